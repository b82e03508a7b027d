#!/usr/bin/env bash
# kqmeter-cli record --mqtt against a real broker on 127.0.0.1: every logged
# reading arrives in order with the row's fields; the broker stopped for a
# while and started again gets the readings that waited, none lost, doubled
# only as QoS 1 allows (those in flight when it went); the recording never
# stalls; the status topic says online, then offline (also as the last will of
# a recorder that was killed); a full queue drops the oldest and says how many.
# usage: mqtt.sh CLI SIM DATA_DIR
set -u
CLI=$1
SIM=$2
for tool in mosquitto mosquitto_sub python3; do
    if ! command -v $tool >/dev/null; then
        echo "SKIP: $tool is not installed (Debian packages mosquitto, mosquitto-clients)"
        exit 0
    fi
done
MOSQUITTO=$(command -v mosquitto)
. "$(dirname "$0")/lib.sh"
end_signal=KILL
broker=
# The broker ends cleanly, before the recorders are killed.
before_cleanup() {
    [ -z "$broker" ] || kill -TERM "$broker" 2>/dev/null
}
wait_for() { # tenths of a second, then a command
    local tenths=$1
    shift
    for _ in $(seq 1 "$tenths"); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
# Persistence keeps the subscriber's session, and so the readings queued for
# it, across the broker's restart; run as root the broker would otherwise
# become another user that cannot write the scratch folder.
cat >"$work/broker.conf" <<CONF
user $(id -un)
listener $port 127.0.0.1
allow_anonymous true
persistence true
persistence_location $work/
CONF
start_broker() {
    "$MOSQUITTO" -c "$work/broker.conf" >>"$work/broker.log" 2>&1 &
    broker=$!
    wait_for 100 mosquitto_sub -h 127.0.0.1 -p "$port" -t probe -W 1 -E >/dev/null 2>&1
}
stop_broker() {
    kill -TERM "$broker"
    wait "$broker" 2>/dev/null
    broker=
}
status_now() { # the retained status of a topic
    mosquitto_sub -h 127.0.0.1 -p "$port" -t "$1/status" -C 1 -W 3 2>/dev/null
}

start_broker || { echo "FAIL: the broker did not start" >&2; cat "$work/broker.log" >&2; exit 1; }

start_usb_meter

rows_of() { tail -n +2 "$1" 2>/dev/null | grep -c $'\r$'; }
received() { grep -c '^{' "$1" 2>/dev/null; }
at_least() { [ "$("$1" "$2")" -ge "$3" ]; }
status_is() { [ "$(status_now "$1")" = "$2" ]; }

# A durable subscription (its own client id, no clean session): the broker
# keeps what comes for it while it reconnects.
mosquitto_sub -h 127.0.0.1 -p "$port" -t kq/m1 -q 1 -c -i kq-test-sub >"$work/sub.out" 2>/dev/null &
sub=$!
pids+=($sub)
sleep 0.5

"$CLI" record --usb --mqtt "mqtt://127.0.0.1:$port/kq/m1" "$work/rec.txt" \
    >"$work/rec.out" 2>"$work/rec.err" &
rec=$!
pids+=($rec)
check "readings arrive" wait_for 100 at_least received "$work/sub.out" 20
check "status online, retained" [ "$(status_now kq/m1)" = online ]

# The broker goes away for three seconds; the recording goes on meanwhile.
stop_broker
before=$(rows_of "$work/rec.txt")
sleep 3
during=$(rows_of "$work/rec.txt")
check "the recording never stalled while the broker was away ($before -> $during rows)" \
    [ "$during" -ge $((before + 30)) ]
start_broker
check "the broker is back" [ -n "$broker" ]
check "the waiting readings arrive after the restart" \
    wait_for 200 at_least received "$work/sub.out" $((during + 10))
kill -TERM $rec
wait $rec
check "record: exit 0" [ $? = 0 ]
check "status offline after the end" [ "$(status_now kq/m1)" = offline ]
sleep 1
kill -TERM $sub
wait $sub 2>/dev/null

# Every row of the file reached the broker with its fields, in order; a
# reading seen twice is one that was in flight when the broker went.
check "every reading, in order, with the row's fields" python3 - "$work/rec.txt" "$work/sub.out" <<'PY'
import json, sys
rows = [l.rstrip("\r\n").split("\t") for l in open(sys.argv[1], newline="").readlines()[1:]]
msgs = [json.loads(l) for l in open(sys.argv[2]) if l.startswith("{")]
seen, firsts = set(), []
for m in msgs:
    if m["no"] not in seen:
        seen.add(m["no"])
        firsts.append(m)
doubled = len(msgs) - len(firsts)
ok = True
if [m["no"] for m in firsts] != [int(r[0]) for r in rows]:
    print("numbers differ: %d rows, %d readings" % (len(rows), len(firsts)), file=sys.stderr)
    ok = False
for m, r in zip(firsts, rows):
    want_value = None if r[2] == "0L" else float(r[2])
    # The datetime is the row's own moment: its local time of day is the row's Time.
    dt = m["datetime"] or ""
    if (m["text"] != r[2] or m["unit"] != r[3] or m["value"] != want_value
            or len(dt) != 29 or dt[10] != "T" or dt[11:19] != r[1]):
        print("reading %s differs from its row %s" % (m, r), file=sys.stderr)
        ok = False
        break
# Only what was in flight (at most 100 handed to the broker) comes twice.
if doubled > 100:
    print("%d readings doubled" % doubled, file=sys.stderr)
    ok = False
print("%d rows, %d messages, %d doubled" % (len(rows), len(msgs), doubled))
sys.exit(0 if ok else 1)
PY

# A recorder killed outright leaves its last will: offline.
"$CLI" record --usb --mqtt "mqtt://127.0.0.1:$port/kq/m2" "$work/killed.txt" \
    >/dev/null 2>"$work/killed.err" &
killed=$!
pids+=($killed)
check "second recorder online" wait_for 30 status_is kq/m2 online
kill -KILL $killed
wait $killed 2>/dev/null
check "the last will says offline" wait_for 30 status_is kq/m2 offline

# A queue of five while the broker is away: the oldest go, and their count is
# published when the broker is back; every reading is either received or counted.
mosquitto_sub -h 127.0.0.1 -p "$port" -t kq/m3 -t kq/m3/dropped -q 1 -c -i kq-test-sub3 -v \
    >"$work/sub3.out" 2>/dev/null &
sub3=$!
pids+=($sub3)
sleep 0.5
"$CLI" record --usb --mqtt "mqtt://127.0.0.1:$port/kq/m3" --mqtt-queue 5 "$work/small.txt" \
    >/dev/null 2>"$work/small.err" &
small=$!
pids+=($small)
check "third recorder online" wait_for 30 status_is kq/m3 online
stop_broker
sleep 2
start_broker
check "the drop count is published" wait_for 200 grep -q '^kq/m3/dropped {"dropped":' "$work/sub3.out"
sleep 1
kill -TERM $small
wait $small
sleep 1
kill -TERM $sub3
wait $sub3 2>/dev/null
check "received and dropped readings add up to the rows" python3 - "$work/small.txt" "$work/sub3.out" <<'PY'
import json, sys
rows = len(open(sys.argv[1], newline="").readlines()) - 1
got, dropped = set(), 0
for line in open(sys.argv[2]):
    topic, _, payload = line.partition(" ")
    m = json.loads(payload)
    if topic == "kq/m3/dropped":
        dropped += m["dropped"]
    else:
        got.add(m["no"])
print("%d rows, %d received, %d dropped" % (rows, len(got), dropped))
sys.exit(0 if dropped > 0 and len(got) + dropped == rows and max(got) == rows else 1)
PY
check "the drop was told on stderr" grep -q "readings were dropped while the broker was away" \
    "$work/small.err"

# TLS with a CA of our own, and a login whose password comes from the
# environment; a wrong password is refused by the broker, the recording goes on.
if command -v openssl >/dev/null && command -v mosquitto_passwd >/dev/null; then
    stop_broker
    (
        cd "$work" || exit 1
        openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.crt -days 2 \
            -subj /CN=kq-test-ca
        openssl req -newkey rsa:2048 -nodes -keyout srv.key -out srv.csr -subj /CN=127.0.0.1
        printf 'subjectAltName=IP:127.0.0.1\n' >srv.ext
        openssl x509 -req -in srv.csr -CA ca.crt -CAkey ca.key -CAcreateserial -out srv.crt \
            -days 2 -extfile srv.ext
        mosquitto_passwd -b -c passwd meter1 's3cret pass'
    ) >"$work/tls.log" 2>&1
    tls_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    cat >"$work/broker.conf" <<CONF
per_listener_settings true
user $(id -un)
persistence true
persistence_location $work/
listener $port 127.0.0.1
allow_anonymous true
listener $tls_port 127.0.0.1
cafile $work/ca.crt
certfile $work/srv.crt
keyfile $work/srv.key
allow_anonymous false
password_file $work/passwd
CONF
    start_broker
    # Started directly, not through a function, so that $! is the subscriber itself.
    mosquitto_sub -h 127.0.0.1 -p "$tls_port" --cafile "$work/ca.crt" -u meter1 -P 's3cret pass' \
        -t kq/tls -q 1 >"$work/tls.out" 2>&1 &
    pids+=($!)
    sleep 0.5
    KQMETER_MQTT_PASSWORD='s3cret pass' "$CLI" record --usb --mqtt "mqtts://127.0.0.1:$tls_port/kq/tls" \
        --mqtt-user meter1 --mqtt-cafile "$work/ca.crt" "$work/tls.txt" >/dev/null 2>"$work/tls.err" &
    tls_rec=$!
    pids+=($tls_rec)
    check "mqtts: readings arrive over TLS with the login" wait_for 100 at_least received "$work/tls.out" 10
    kill -TERM $tls_rec
    wait $tls_rec
    check "mqtts: exit 0" [ $? = 0 ]
    KQMETER_MQTT_PASSWORD=wrong "$CLI" record --usb --mqtt "mqtts://127.0.0.1:$tls_port/kq/tls" \
        --mqtt-user meter1 --mqtt-cafile "$work/ca.crt" "$work/wrong.txt" >/dev/null 2>"$work/wrong.err" &
    wrong=$!
    pids+=($wrong)
    check "mqtts: a wrong password is told" wait_for 100 grep -q "refused" "$work/wrong.err"
    check "mqtts: the recording goes on without the broker" wait_for 50 at_least rows_of "$work/wrong.txt" 20
    kill -TERM $wrong
    wait $wrong
    check "mqtts: exit 0 without the broker" [ $? = 0 ]
    check "mqtts: says what did not reach the broker" grep -q "readings did not reach" "$work/wrong.err"
else
    echo "SKIP: TLS and login (openssl or mosquitto_passwd missing)"
fi

# Bad addresses are refused before anything starts.
"$CLI" record --usb --mqtt "mqtt://127.0.0.1:$port/kq/#" "$work/bad.txt" 2>"$work/bad.err"
check "a wildcard topic is refused (2)" [ $? = 2 ]
check "no file for a refused command line" [ ! -e "$work/bad.txt" ]
"$CLI" monitor --usb --mqtt-user someone --count 1 2>"$work/bad.err"
check "--mqtt-user without --mqtt is refused (2)" [ $? = 2 ]

echo "mqtt: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
