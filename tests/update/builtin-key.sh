#!/bin/sh
# The key built in at configure time: the header made from a public key holds its PEM text byte for
# byte once compiled, and a private key is refused. $1: the source tree; $2: the C++ compiler.
set -eu
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$1/scripts/sign-update" new-key "$work/private.pem" "$work/public.pem" >/dev/null
cmake -DKEY="$work/public.pem" -DOUT="$work/key.h" -P "$1/cmake/updatekey.cmake"
printf '#include "key.h"\n#include <cstdio>\nint main() { std::fputs(kBuiltInUpdateKey, stdout); }\n' >"$work/show.cpp"
"$2" -std=c++17 -I"$work" "$work/show.cpp" -o "$work/show"
"$work/show" >"$work/shown.pem"
cmp "$work/public.pem" "$work/shown.pem"
if cmake -DKEY="$work/private.pem" -DOUT="$work/refused.h" -P "$1/cmake/updatekey.cmake" 2>/dev/null; then
    echo "a private key was built in" >&2
    exit 1
fi
[ ! -e "$work/refused.h" ]
echo "the built-in key is the file's text; a private key is refused"
