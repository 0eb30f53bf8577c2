#!/bin/sh
# Stand-in for the desktop application's privileged helper:
#   helper.sh <fileicon> <target> <icon file>   sets the custom icon
#   helper.sh <fileicon> <target> --remove      removes it
# Exit status 0 only when the target now shows the wanted state.
if [ $# -ne 3 ]; then
    echo "usage: helper.sh <fileicon> <target> <icon>|--remove" >&2
    exit 64
fi
fileicon=$1
target=$2
if [ "$3" = "--remove" ]; then
    exec "$fileicon" rm "$target"
fi
exec "$fileicon" set "$target" "$3"
