# Recursion: ls -R, ls -d, ls -1, chmod symbolic modes and -R, cp -r.
# Sourced by cli_test.sh, in order.
# One tree for all: nested directories, a hidden one, a name with a space, a
# link to /etc, a dangling link, a link to a file outside, and a FIFO.
mkdir -p tree/sub/deep tree/.hidden
printf 'spaced' > 'tree/with space'
printf 'f' > tree/sub/f
printf 'h' > tree/.hidden/h
printf 'outside' > outside
chmod 600 outside
ln -s /etc tree/etc
ln -s nowhere tree/dangling
ln -s ../../outside tree/sub/to-outside
mkfifo tree/fifo
ln -s tree tree-link
like_gnu "ls -R as GNU" ls -R tree
like_gnu "ls -Ra as GNU" ls -Ra tree
like_gnu "ls -R of a file and a link to a directory as GNU" ls -R tree/sub/f tree-link
like_gnu "ls -d lists directories and links as themselves" ls -d tree tree-link tree/sub/f
like_gnu "ls -dR does not recurse" ls -dR tree
# GNU ls -l less its totals and link counts; the library reports a directory's size as 0.
lR_of() { sed -E -e '/^total /d' -e 's/^([^ ]+) +[0-9]+ (.*)$/\1 \2/' -e 's/ +/ /g' -e 's/^(d[^ ]* [^ ]* [^ ]*) [0-9]+/\1 N/'; }
basefs_lR() { "$basefs" ls -lR tree | sed -E -e 's/ +/ /g' -e 's/^(d[^ ]* [^ ]* [^ ]*) [0-9]+/\1 N/'; }
if ls --time-style=long-iso / > /dev/null 2>&1; then
    exactly "ls -lR as GNU" "$(LC_ALL=C.UTF-8 ls -lR --time-style=long-iso tree | lR_of)" basefs_lR
fi
exactly "ls -1 on a terminal: one name a line" "$(on_terminal ls -1 tree)" on_terminal "$basefs" ls -1 tree

# chmod_after KIND START UMASK MODE COMMAND...: status and mode after
# COMMAND MODE on a fresh file (f) or directory (d) of mode START.
chmod_after() {
    kind=$1 start=$2 mask=$3 mode=$4
    shift 4
    rm -rf modes && if [ "$kind" = d ]; then mkdir modes; else : > modes; fi && chmod "$start" modes
    (umask "$mask" && "$@" "$mode" modes) > /dev/null 2>&1
    echo "$? $(stat -c %a modes)"
}
for row in "f 644 022 u+x,go-w" "f 755 022 o=u,g=u-w" "f 644 022 +X" "d 644 022 a-x,+X" "f 600 022 +w" \
    "f 600 077 +rx" "d 2755 022 755" "d 2755 022 00755" "d 2755 022 =755" "d 6755 022 -6000"; do
    exactly "chmod $row as GNU" "$(chmod_after $row chmod --)" chmod_after $row "$basefs" chmod --
done
fails_with "chmod with an invalid symbolic mode" 1 "$(usage_error "invalid mode: 'q+z'")" "$basefs" chmod q+z outside
chmod 666 tree/sub/f
like_gnu "chmod -w warns when the umask kept a bit" chmod -w tree/sub/f
like_gnu "chmod of a dangling link" chmod -R 644 tree/dangling
# modes_of DIR: each name under DIR with its mode, or a link's target.
modes_of() { (cd "$1" && find . -printf '%p %M %l\n' | sort); }
rm -rf gnu-modes && mkdir gnu-modes && cp -a tree gnu-modes/tree
chmod -R u=rwx,go=rx,+t gnu-modes/tree
expect "chmod -R through the tree" 0 '^$' "$basefs" chmod -R u=rwx,go=rx,+t tree
exactly "chmod -R changed what GNU chmod -R changes" "$(modes_of gnu-modes/tree)" modes_of tree
exactly "chmod -R left a link's target alone" "600" stat -c %a outside
chmod -R u=rwx,go=rx,-t tree

# cp -r against GNU cp -r; basefs refuses the FIFO and hands out no sticky bit.
chmod 2755 tree/sub
rm -rf gnu-copy && cp -r tree gnu-copy
fails_with "cp -r refuses a FIFO by name and copies the rest" 1 "basefs: cannot copy special file 'tree/fifo'" \
    "$basefs" cp -r tree tree-copy
exactly "cp -r copies as GNU cp -r, links as links" "$(modes_of gnu-copy | grep -v ' p')" modes_of tree-copy
exactly "cp -r copied the link to /etc as a link and nothing of /etc" "/etc 0" \
    sh -c 'echo "$(readlink tree-copy/etc) $(find tree-copy -name passwd | wc -l)"'
fails_with "cp -r into an existing directory copies into DIR/NAME" 1 "basefs: cannot copy special file 'tree/fifo'" \
    "$basefs" cp -r tree tree-copy
exactly "cp -r into an existing directory made DIR/NAME as GNU" "$(modes_of gnu-copy | grep -v ' p')" modes_of tree-copy/tree
fails_with "cp -r of a directory into itself" 1 "basefs: cannot copy a directory, 'tree', into itself, 'tree/sub/tree'" \
    "$basefs" cp -r tree tree/sub
fails_with "cp -r into itself made nothing" 1 "" test -e tree/sub/tree
mkdir -p merge/tree && ln -s nowhere 'merge/tree/with space'
expect "cp -r does not write through a dangling link in the destination" 1 \
    "^basefs: not writing through dangling symlink 'merge/tree/with space'$" "$basefs" cp -r tree merge
fails_with "cp -r left the dangling link alone" 1 "" test -e merge/nowhere
# Links inside a tree lead out of it: to /dev/zero, to a root-only file and to
# a directory outside. None is followed, read or changed; a FIFO is not waited on.
mkdir -p hostile/in aside && printf 'kept' > aside/file && chmod 600 aside/file && chmod 700 aside
mkfifo hostile/in/fifo
ln -s /dev/zero hostile/zero && ln -s ../../outside hostile/in/outside && ln -s ../aside hostile/aside
fails_with "cp -r of links out of the tree and a FIFO ends at once" 1 "basefs: cannot copy special file 'hostile/in/fifo'" \
    timeout 60 "$launcher" cp -r hostile hostile-copy
exactly "cp -r copied each link as a link and nothing it leads to" "/dev/zero ../../outside ../aside 0" \
    sh -c 'echo "$(readlink hostile-copy/zero) $(readlink hostile-copy/in/outside) $(readlink hostile-copy/aside)" \
        "$(find hostile-copy ! -type d ! -type l | wc -l)"'
expect "chmod -R over links out of the tree" 0 '^$' timeout 60 "$launcher" chmod -R 777 hostile
exactly "chmod -R changed the tree, not what its links lead to" "777 777 700 600 600 666" \
    sh -c 'echo $(stat -c %a hostile/in hostile/in/fifo aside aside/file outside /dev/zero)'
like_gnu "ls -R of links out of the tree as GNU" ls -R hostile
if ls --time-style=long-iso / > /dev/null 2>&1; then
    basefs_laR() { "$basefs" ls -laR tree | sed -E -e 's/ +/ /g' -e 's/^(d[^ ]* [^ ]* [^ ]*) [0-9]+/\1 N/'; }
    exactly "ls -laR as GNU, . and .. included" "$(LC_ALL=C.UTF-8 ls -laR --time-style=long-iso tree | lR_of)" basefs_laR
fi
# A tree deeper than PATH_MAX: walked by descriptors, each name relative to its open parent.
perl -e 'mkdir "deep"; chdir "deep" or die; for (1 .. 25) { mkdir "0" x 200; chdir "0" x 200 or die }
    open(my $f, ">", "leaf") or die; print $f "leaf"' || echo "FAILED: a tree deeper than PATH_MAX could not be made"
exactly "ls -R walks a tree deeper than PATH_MAX" 26 sh -c '"$1" ls -R deep | grep -c ":$"' sh "$basefs"
expect "chmod -R changes a tree deeper than PATH_MAX" 0 '^$' "$basefs" chmod -R u=rwx,go= deep
expect "cp -r copies a tree deeper than PATH_MAX" 0 '^$' "$basefs" cp -r deep deep-copy
exactly "cp -r copied its deepest file, with the mode chmod -R gave it" "1 700" \
    sh -c 'find deep-copy -name leaf | wc -l | tr "\n" " "; find deep -name leaf -printf "%m\n"'
mkdir -p bar-tree/in
head -c 3000000 /dev/zero > bar-tree/a
printf 'small' > bar-tree/in/b
head -c 2000000 /dev/zero > bar-tree/in/c
bar=$(on_terminal "$basefs" cp -r bar-tree bar-copy)
exactly "cp -r draws one bar for the whole tree, to its total" "1 1" \
    sh -c 'printf "%s\n" "$1" | grep -c "cp \[" | tr "\n" " "; printf "%s\n" "$1" | grep -c "100% 4\.8 MiB"' sh "$bar"
if [ -n "$unprivileged" ]; then
    mkdir -p shut/open shut/closed && printf 'x' > shut/open/x && chmod 000 shut/closed && chmod 555 shut/open
    fails_with "ls -R: a subdirectory that cannot be read is a minor problem" 1 \
        "$(printf "shut:\nclosed\nopen\nbasefs: cannot open directory 'shut/closed': Permission denied\n\nshut/open:\nx")" \
        $nobody "$basefs" ls -R shut
    mkdir -m 777 nobody-copies
    expect "cp -r of a directory its owner may not write" 0 '^$' $nobody "$basefs" cp -r shut/open nobody-copies/open
    exactly "cp -r filled it and gave it its mode back" "555 x" \
        sh -c 'echo "$(stat -c %a nobody-copies/open) $(cat nobody-copies/open/x)"'
    # Directories whose owner has no bits, readable through their group: each copy is
    # made open to its owner, filled, then given the source's mode, as GNU cp does.
    mkdir -p ownerless/inner && printf 'o' > ownerless/inner/o && chown -R 0:65534 ownerless
    chmod 0075 ownerless ownerless/inner
    $nobody cp -r ownerless nobody-copies/gnu-ownerless
    expect "cp -r of directories without owner bits" 0 '^$' $nobody "$basefs" cp -r ownerless nobody-copies/ownerless
    exactly "cp -r of directories without owner bits made what GNU cp makes" \
        "$(cd nobody-copies/gnu-ownerless && find . -printf '%p %m\n' | sort)" \
        sh -c 'cd nobody-copies/ownerless && find . -printf "%p %m\n" | sort'
    # A directory that may be searched, not read: the copy goes by the paths there.
    mkdir -m 711 search-only && printf 's' > search-only/s && mkdir -m 733 drop-box
    expect "cp from a directory that may be searched, not read" 0 '^$' $nobody "$basefs" cp search-only/s nobody-copies/s
    expect "cp into a directory that may be written, not read" 0 '^$' $nobody "$basefs" cp four drop-box/four
    exactly "both copies are whole" "s" sh -c 'cmp four drop-box/four && cat nobody-copies/s'
fi
