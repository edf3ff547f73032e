#!/bin/sh
# The programs and the plugin that need no window load no wxWidgets library,
# directly or through another one: each file named is asked of the dynamic
# loader (ldd), which must list the C library and no libwx.
status=0
for file in "$@"; do
    if ! libraries=$(ldd "$file" 2>&1); then
        echo "ldd cannot read $file: $libraries"
        status=1
        continue
    fi
    if ! printf '%s\n' "$libraries" | grep -q 'libc\.so'; then
        echo "$file: ldd lists no C library, so it tells nothing:"
        printf '%s\n' "$libraries"
        status=1
    fi
    if printf '%s\n' "$libraries" | grep -i 'libwx'; then
        echo "$file loads the toolkit (above)"
        status=1
    else
        echo "$file: no libwx"
    fi
done
exit $status
