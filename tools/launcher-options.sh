# The JVM options every launcher starts java with (the build copies this into
# each launcher, after it has picked its java).
# A UTF-8 locale makes the JVM decode arguments and file names as UTF-8.
LC_ALL=C.UTF-8
export LC_ALL
# JDK 24 and later warn about (or deny) loading a library without the flag.
native_access=--enable-native-access=ALL-UNNAMED
# A command runs for a fraction of a second: the client compiler alone, the
# serial collector and no perf-data file in /tmp start and finish it sooner
# (ls -l of 50,000 files: about a third less time); -Xshare:auto maps the JDK's
# class-data archive where there is one.
quick_start="-XX:TieredStopAtLevel=1 -XX:+UseSerialGC -XX:-UsePerfData -Xshare:auto"
