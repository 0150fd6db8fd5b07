# Shared by the bench scripts (sourced, not run): the inputs they time, built
# from what this machine has, and the tools they need.

# Installs the Debian packages named, where missing (needs root).
install_missing() { # package...
    [ $# -gt 0 ] || return 0
    apt-get install -y "$@" >/dev/null 2>&1 ||
        { apt-get update >/dev/null && apt-get install -y "$@" >/dev/null; }
}

# Copies the build's tarnwel (built first, where there is none yet) into a
# work folder as "tarnwel", and a baseline build, when one is named, as
# "baseline".
copy_builds() { # root, work, [baseline]
    local root=$1 work=$2 baseline=${3:-}
    if [ ! -x "$root/build/tarnwel" ]; then
        cmake -S "$root" -B "$root/build" >/dev/null
        cmake --build "$root/build" -j2 --target tarnwel >/dev/null
    fi
    cp "$root/build/tarnwel" "$work/tarnwel"
    [ -z "$baseline" ] || cp "$baseline" "$work/baseline"
}

# An input of one kind, cut to size; a kind that runs short is repeated.
# Kinds: text (manual pages), headers, binaries, random, zeros.
make_input() { # kind, bytes, file
    local kind=$1 bytes=$2 file=$3
    [ -f "$file" ] && [ "$(stat -c %s "$file")" -eq "$bytes" ] && return
    local source
    case $kind in
    text) source() { find /usr/share/man -name '*.gz' -print0 | sort -z | xargs -0 zcat 2>/dev/null; } ;;
    headers) source() { find /usr/include -name '*.h' -print0 | sort -z | xargs -0 cat 2>/dev/null; } ;;
    binaries) source() { find /usr/bin /usr/lib/x86_64-linux-gnu -maxdepth 1 -type f -size +100k -print0 |
        sort -z | xargs -0 cat 2>/dev/null; } ;;
    random) source() { head -c "$bytes" /dev/urandom; } ;;
    zeros) source() { head -c "$bytes" /dev/zero; } ;;
    esac
    { for _ in $(seq 1 64); do source || true; done; } | head -c "$bytes" >"$file"
}
