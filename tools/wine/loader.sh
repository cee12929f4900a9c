# Sourced by the project's shell scripts: which Wine binaries run, the
# environment of a headless test prefix, and whether this kernel runs 32-bit
# programs at all.
#
# Wine's 64-bit loader is called directly. Debian's /usr/bin/wine picks the
# 32-bit loader (/usr/lib/wine/wine) whenever wine32 is installed, and on a
# kernel that runs no 32-bit programs every Wine command then fails, 64-bit
# ones included. Started this way Wine still hands an i686 program to the
# 32-bit loader by itself (it execs the loader's name without "64").
WINELOADER=/usr/lib/wine/wine64
wine() { "$WINELOADER" "$@"; }
wineserver() { /usr/lib/wine/wineserver64 "$@"; }

# loader_for PROGRAM: the 32-bit loader for an i686 program file (the 64-bit
# one would start it through start.exe: one more process start, and a
# misleading "File not found" when that start fails), the 64-bit one for
# everything else, builtin commands included.
loader_for() {
    machine=""
    if [ -f "$1" ] && [ "$(head -c2 "$1")" = MZ ]; then
        header=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
        machine=$(od -An -tx2 -j$((header + 4)) -N2 "$1" 2>/dev/null | tr -d ' ')
    fi
    if [ "$machine" = 014c ]; then echo /usr/lib/wine/wine; else echo "$WINELOADER"; fi
}

# use_prefix DIR: every later Wine command works in DIR, quietly, without a
# display, and without Wine's debugger (a crashing program would otherwise
# wait in it until killed).
use_prefix() {
    WINEPREFIX=$(realpath -m "$1")
    export WINEPREFIX WINELOADER WINEARCH=win64 WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
    unset DISPLAY WAYLAND_DISPLAY
}

# kernel_runs_32bit DIR: asks the kernel itself. It runs a three-instruction
# i386 program that exits with 42, beside the same program for x86-64 as a
# control; both are built with binutils into DIR the first time. Returns 0
# when the i386 one runs, 1 when the kernel refuses it ("Exec format error"),
# 2 when there is no answer: a probe that could not be built, a control that
# did not run, or an i386 program that failed some other way. After 1 or 2,
# $probe_problem says what happened.
kernel_runs_32bit() {
    probe_problem=""
    mkdir -p "$1" || { probe_problem="cannot make $1"; return 2; }
    for bits in 32 64; do
        [ -x "$1/exit42-$bits" ] && continue
        if [ $bits = 32 ]; then
            code='movl $1, %eax; movl $42, %ebx; int $0x80' flags='--32' emulation=elf_i386
        else
            code='movl $60, %eax; movl $42, %edi; syscall' flags='--64' emulation=elf_x86_64
        fi
        # Built under a name of its own and renamed: tests started in
        # parallel may build it at the same moment.
        part="$1/exit42-$bits.$$"
        if ! built=$(printf '.globl _start\n_start: %s\n' "$code" |
            { as $flags -o "$part.o" - && ld -m $emulation -o "$part" "$part.o" &&
                mv -f "$part" "$1/exit42-$bits"; } 2>&1); then
            rm -f "$part.o" "$part"
            probe_problem="the $bits-bit probe could not be built: $(echo "$built" | head -n1)"
            return 2
        fi
        rm -f "$part.o"
    done
    # bash, not sh: on "Exec format error" sh would read the file as a script.
    ran=$(bash -c '"$0"' "$1/exit42-64" 2>&1)
    status=$?
    if [ $status != 42 ]; then
        probe_problem="the x86-64 control $1/exit42-64 exited with $status: $ran"
        return 2
    fi
    ran=$(bash -c '"$0"' "$1/exit42-32" 2>&1)
    status=$?
    [ $status = 42 ] && return 0
    case $ran in
    *"Exec format error"*) probe_problem="the kernel refused $1/exit42-32: Exec format error"
                           return 1 ;;
    esac
    probe_problem="the i386 probe $1/exit42-32 exited with $status: $ran"
    return 2
}
