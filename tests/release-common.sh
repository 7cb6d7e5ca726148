# Sourced by the checks of what ships (CTest runs each from the release preset): where things are,
# how a check fails, how it skips, and the commands' main job, checked on any copy of them.
set -u
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
version=${SEMSIGNAL_VERSION:?the version, which CTest gives the checks}
deb=semsignal_${version}_amd64.deb
# The Windows release files of each build, x86 and x64: windows_zip ARCH, and so on.
windows_zip() { echo "semsignal-$version-windows-$1.zip"; }
windows_msi() { echo "semsignal-$version-windows-$1.msi"; }
windows_tests_zip() { echo "semsignal-$version-windows-$1-tests.zip"; }
rpm=semsignal-$version-1.x86_64.rpm srpm=semsignal-$version-1.src.rpm source=semsignal-$version.tar.gz
status=0
# fail MESSAGE: the check fails, and goes on to say what else is wrong.
fail() {
    echo "FAILED: $*"
    status=1
}
# skip REASON: the check cannot run here; CTest reads status 77 as a skip, and scripts/test the
# reason on the line after "Skipped".
skip() {
    printf '%s: Skipped\n%s\n' "$(basename "$0")" "$1"
    exit 77
}
# waits FOLDER: FOLDER's semwait, waiting on a fresh name, is let through by its semsignal.
waits() {
    local name="semsignal-test-${SEMSIGNAL_TEST_RUN:-$$}-shipped-$RANDOM" result
    "$1/semwait" "$name" 10 &
    local waiter=$!
    sleep 0.3
    "$1/semsignal" "$name" && wait "$waiter"
    result=$?
    rm -f "/dev/shm/sem.$name"
    return "$result"
}
# hardened EXECUTABLE: says what EXECUTABLE lacks of the hardening it is built with: a stack
# protector and checked C library calls (nm, even stripped), relocations read-only and bound
# before main, a position-independent image (readelf), and the control-flow markers of
# -fcf-protection (objdump). Debian 12's C start-up files carry no such marker, so the image is
# not marked for the kernel to enforce them; the markers are looked for in the code.
hardened() {
    local lacks=()
    nm -D "$1" | grep -q ' __stack_chk_fail@' || lacks+=("a stack protector")
    nm -D "$1" | grep -q '_chk@' || lacks+=("checked calls (_FORTIFY_SOURCE)")
    readelf -d "$1" | grep -q 'FLAGS_1.*NOW' || lacks+=("binding now")
    readelf -l "$1" | grep -q GNU_RELRO || lacks+=("relro")
    readelf -h "$1" | grep -q 'Type: *DYN' || lacks+=("PIE")
    objdump -d "$1" | grep -q endbr64 || lacks+=("cf-protection")
    [ ${#lacks[@]} -eq 0 ] || echo "$(basename "$1") lacks ${lacks[*]}"
}
