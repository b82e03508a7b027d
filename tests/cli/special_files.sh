#!/usr/bin/env bash
# kqmeter-cli convert onto and from files that are not regular files: a
# device, a pipe or standard output is written as a stream and never replaced,
# a folder is refused, a dangling link gets the file it names; pipes and
# standard input are read as streams.
# usage: special_files.sh CLI SIM DATA_DIR
set -u
cli=$1
data=$3/files
. "$(dirname "$0")/lib.sh"
in=$data/five_rows.txt

# Standard output through a link like /dev/stdout: the log and nothing else.
# (A link of the test's own: a program that replaced the link would break the
# machine's /dev/stdout for everyone else.)
ln -s /proc/self/fd/1 "$work/stdout"
"$cli" convert "$in" "$work/stdout" 2>"$work/err" | cat >"$work/piped.txt"
cmp -s "$work/piped.txt" "$in" || fail "stdout link: the pipe does not carry the log"
grep -q "Scuss!" "$work/err" || fail "stdout link: no success line on standard error"
[ -L "$work/stdout" ] || fail "stdout link: replaced"

# A pipe: the reader gets the bytes, the pipe stays a pipe.
mkfifo "$work/fifo"
timeout 20 cat "$work/fifo" >"$work/from-fifo.txt" &
reader=$!
timeout 20 "$cli" convert "$in" "$work/fifo" >/dev/null 2>"$work/err" || fail "fifo: exit $? ($(cat "$work/err"))"
wait $reader
[ -p "$work/fifo" ] || fail "fifo: replaced"
cmp -s "$work/from-fifo.txt" "$in" || fail "fifo: the reader did not get the log"
# ... and nobody reading it: refused at once, not waited for.
timeout 20 "$cli" convert "$in" "$work/fifo" >/dev/null 2>"$work/err"
[ $? = 1 ] || fail "fifo without reader: exit status"
[ -p "$work/fifo" ] || fail "fifo without reader: replaced"

# A folder is refused and stays.
mkdir "$work/folder"
"$cli" convert "$in" "$work/folder" >/dev/null 2>&1 && fail "folder: accepted"
[ -d "$work/folder" ] || fail "folder: replaced"

# A dangling link: the file it names is made, the link stays a link.
ln -s named.txt "$work/link.txt"
"$cli" convert "$in" "$work/link.txt" >/dev/null 2>"$work/err" || fail "dangling link: $(cat "$work/err")"
[ -L "$work/link.txt" ] || fail "dangling link: the link was replaced"
cmp -s "$work/named.txt" "$in" || fail "dangling link: the file it names is not the log"

# A device node (made in a mount of its own, gone with it): written, not replaced.
if [ "$(id -u)" = 0 ] && unshare -m true 2>/dev/null; then
    mkdir "$work/dev"
    unshare -m bash -c '
        mount -t tmpfs -o size=64k kqmeter-test "$1" || exit 3
        mknod "$1/null" c 1 3 || exit 3
        "$2" convert "$3" "$1/null" >/dev/null 2>&1 || exit 1
        [ -c "$1/null" ] || exit 2' _ "$work/dev" "$cli" "$in"
    case $? in
    0) ;;
    1) fail "device: convert failed" ;;
    2) fail "device: the node was replaced" ;;
    *) echo "device: skipped (no tmpfs or mknod here)" ;;
    esac
fi

# Reading: a pipe and standard input are streams.
timeout 20 cat "$in" >"$work/fifo" &
timeout 20 "$cli" convert "$work/fifo" "$work/from-pipe.txt" >/dev/null 2>&1 || fail "read fifo: exit $?"
cmp -s "$work/from-pipe.txt" "$in" || fail "read fifo: rows differ"
cat "$in" | timeout 20 "$cli" convert /dev/stdin "$work/from-stdin.txt" >/dev/null 2>&1 ||
    fail "read stdin: exit $?"
cmp -s "$work/from-stdin.txt" "$in" || fail "read stdin: rows differ"

# A writer that never ends: SIGTERM stops the reading, and nothing is written.
rm -f "$work/fifo" && mkfifo "$work/fifo"
(printf 'No\tTime\tValue\tUnit\r\n'
 while :; do printf '1\t10:00:00\t1.5\tlux\r\n%.0s' $(seq 1 500); done) >"$work/fifo" 2>/dev/null &
pids+=($!)
"$cli" convert "$work/fifo" "$work/endless.txt" >/dev/null 2>&1 &
conv=$!
sleep 1
kill -TERM $conv
timeout 10 bash -c "while kill -0 $conv 2>/dev/null; do sleep 0.1; done" || fail "endless: SIGTERM did not stop it"
wait $conv 2>/dev/null
[ ! -e "$work/endless.txt" ] || fail "endless: a file was written"

finish
