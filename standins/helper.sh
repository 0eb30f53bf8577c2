#!/bin/sh
# Stand-in for the desktop application's privileged helper:
#   helper.sh <fileicon> <target> <icon file>   sets the custom icon
#   helper.sh <fileicon> <target> --remove      removes it
# Exit status 0 only when the target now shows the wanted state.
# It runs as root, so it runs only the fileicon installed beside it and passes
# on only what fileicon takes: a folder or bundle, and an icon file that is a
# regular file and not a link (fileicon itself checks that it is an image).
if [ $# -ne 3 ]; then
    echo "usage: helper.sh <fileicon> <target> <icon>|--remove" >&2
    exit 64
fi
fileicon=$1
target=$2
here=$(dirname -- "$0")
if [ ! -f "$fileicon" ] || [ ! "$fileicon" -ef "$here/fileicon" ]; then
    echo "helper.sh: not the fileicon installed beside it: $fileicon" >&2
    exit 64
fi
if [ ! -d "$target" ]; then
    echo "helper.sh: not a folder or bundle: $target" >&2
    exit 1
fi
if [ "$3" = "--remove" ]; then
    exec "$here/fileicon" rm "$target"
fi
if [ -L "$3" ] || [ ! -f "$3" ]; then
    echo "helper.sh: not an icon file: $3" >&2
    exit 1
fi
exec "$here/fileicon" set "$target" "$3"
