// The listing program as a module of its own, reading the library's automatic
// modules by the names their manifests give.
module com.quenvira.test.lister {
    requires com.quenvira.basefs;
    requires com.quenvira.basefs.host;
}
