#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The package under a real systemd, as an admin uses it: systemd boots as PID 1 of its own PID, mount,
# network, UTS, IPC and cgroup namespaces; /usr, /etc and /var are overlays whose changes live in a tmpfs,
# so installing, purging and the service's files touch nothing of this machine. Checks: installing starts
# nothing; enable --now is on the air (status text, MP3 on the listener port); a hung station is restarted
# by the watchdog; a bad or missing configuration file fails once, named, without a retry loop; stop
# saves; a reinstall restarts the service on the new program; remove stops it; purge removes its data and
# enablement; poweroff leaves nothing running.
# Usage: tests/system/live-systemd.sh build/vandorixserver_VERSION_ARCH.deb
# Prints "SKIPPED: reason" and exits 0 where this machine cannot boot systemd this way.
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 PACKAGE.deb" >&2; exit 2; }
deb=$(realpath "$1")
unit=vandorixserver.service
conf=/etc/vandorixserver/vandorixserver.conf

skip() { echo "live-systemd: SKIPPED: $*"; exit 0; }
[ "$(id -u)" -eq 0 ] || skip "needs root (namespaces, mounts)"
[ -x /lib/systemd/systemd ] || skip "systemd is not installed (apt-get install systemd)"
for tool in unshare nsenter mpg123 python3 apt-get; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
done
grep -qw overlay /proc/filesystems || skip "the kernel has no overlay file system"
grep -qw cgroup2 /proc/filesystems || skip "the kernel has no cgroup2"
unshare --pid --mount --net --uts --ipc --cgroup --fork true 2>/dev/null ||
    skip "this machine does not allow new namespaces (a container without the privilege?)"

scratch=$(mktemp -d /var/tmp/vx-live.XXXXXX)
log="$scratch.log"
cgroup="vx-live-$$"
ns=""
pid1=""
# What is left in the namespace's cgroup, once its PID 1 is gone (nothing, when all went well); the
# cgroup itself is removed.
leftovers() {
    unshare --mount sh -c '
        mount -t cgroup2 cgroup2 "$1" || exit 0
        [ -d "$1/$2" ] || { umount "$1"; exit 0; }
        find "$1/$2" -name cgroup.procs -exec cat {} + 2>/dev/null
        find "$1/$2" -depth -type d -exec rmdir {} + 2>/dev/null
        umount "$1"' sh "$scratch" "$cgroup"
}
cleanup() {
    if [ -n "$pid1" ] && kill -0 "$pid1" 2>/dev/null; then
        kill -KILL "$pid1" 2>/dev/null || true  # PID 1 of the namespace: every process in it goes
    fi
    if [ -n "$ns" ]; then
        wait "$ns" 2>/dev/null || true
    fi
    leftovers >/dev/null || true
    rm -f "$scratch.mp3"
    rmdir "$scratch" 2>/dev/null || true
}
trap cleanup EXIT
started=$SECONDS
fail() {
    echo "live-systemd: FAILED: $* (the namespace's start-up output: $log)" >&2
    if [ -n "$ns" ] && kill -0 "$ns" 2>/dev/null; then
        nsx systemctl status --no-pager -l "$unit" >&2 || true
        nsx journalctl --no-pager -n 60 -u "$unit" >&2 || true
    fi
    exit 1
}
step() { echo "live-systemd: [$((SECONDS - started)) s] $*"; }

# Units of this machine that would start its own services (a database, timers, gettys) or touch the
# kernel's shared state (sysctl, modules, binfmt, the clock, udev, swap, the root file system).
masked=(postgresql.service cron.service ssh.service rsyslog.service e2scrub_reap.service
    getty@tty1.service getty.target serial-getty@.service console-getty.service
    systemd-timesyncd.service systemd-pstore.service systemd-sysctl.service systemd-modules-load.service
    systemd-binfmt.service proc-sys-fs-binfmt_misc.automount proc-sys-fs-binfmt_misc.mount
    systemd-udevd.service systemd-udev-trigger.service systemd-udev-settle.service
    systemd-udevd-control.socket systemd-udevd-kernel.socket systemd-hwdb-update.service
    systemd-remount-fs.service systemd-fsck-root.service swap.target remote-fs.target
    systemd-networkd.service systemd-resolved.service networking.service NetworkManager.service
    apt-daily.timer apt-daily-upgrade.timer dpkg-db-backup.timer e2scrub_all.timer fstrim.timer
    man-db.timer systemd-tmpfiles-clean.timer sys-kernel-debug.mount sys-kernel-tracing.mount
    sys-kernel-config.mount sys-fs-fuse-connections.mount dev-hugepages.mount)

# Inside the new namespaces, as their PID 1 until systemd replaces it.
boot() {
    set -e
    mount --make-rprivate /
    mount -t tmpfs -o mode=700 vx-live "$scratch"
    mkdir "$scratch/hostdev" "$scratch/cg"
    # A /dev of its own: the machine's console, terminals and devices stay out of reach.
    mount --bind /dev "$scratch/hostdev"
    mount -t tmpfs -o mode=755,nosuid dev /dev
    for n in null zero full random urandom tty; do
        touch "/dev/$n"
        mount --bind "$scratch/hostdev/$n" "/dev/$n"
    done
    umount "$scratch/hostdev"
    mkdir /dev/pts /dev/shm
    mount -t devpts -o newinstance,ptmxmode=0666,mode=620 devpts /dev/pts
    ln -s pts/ptmx /dev/ptmx
    mount -t tmpfs -o mode=1777 shm /dev/shm
    # A cgroup of its own below the machine's cgroup2 root, which the cgroup namespace makes its root.
    mount -t cgroup2 cgroup2 "$scratch/cg"
    mkdir "$scratch/cg/$cgroup"
    echo 0 >"$scratch/cg/$cgroup/cgroup.procs"
    umount "$scratch/cg"
    # Read-only kernel settings, as in a container: the units that would write them skip themselves.
    mount --bind /proc/sys /proc/sys
    mount -o remount,bind,ro /proc/sys
    umount -R /sys/fs/cgroup 2>/dev/null || true
    mount --bind /sys /sys
    mount -o remount,bind,ro /sys
    # The scratch folder lies in /var: its overlay comes last, after the last use of the folder's path.
    for d in usr etc var; do
        mkdir -p "$scratch/$d/upper" "$scratch/$d/work"
        mount -t overlay overlay -o "lowerdir=/$d,upperdir=$scratch/$d/upper,workdir=$scratch/$d/work" "/$d"
    done
    mount -t tmpfs -o mode=755 run /run
    mount -t tmpfs -o mode=1777 tmp /tmp
    mkdir -p /var/log/journal
    mount -t tmpfs -o mode=2755 journal /var/log/journal
    # A container image's policy-rc.d (exit 101: start nothing) would keep the package's scripts from
    # managing the service; a booted machine has none.
    rm -f /usr/sbin/policy-rc.d
    for u in "${masked[@]}"; do
        ln -sf /dev/null "/etc/systemd/system/$u"
    done
    # Shared propagation, as on a booted machine: systemd's per-service mounts (credentials) need it.
    mount --make-rshared /
    export container=vandorix-live-test
    exec unshare --cgroup sh -c 'mount -t cgroup2 cgroup2 /sys/fs/cgroup && exec /lib/systemd/systemd --log-target=journal --show-status=no'
}
export -f boot
export scratch cgroup
masked_list="${masked[*]}"
export masked_list
unshare --pid --mount --net --uts --ipc --fork --mount-proc \
    bash -c 'masked=($masked_list); boot' </dev/null >"$log" 2>&1 &
ns=$!

# The namespace's PID 1 is the child of unshare.
nsx() { nsenter -t "$pid1" -a "$@"; }
for _ in $(seq 100); do
    pid1=$(pgrep -P "$ns" | head -n 1 || true)
    [ -n "$pid1" ] && [ "$(cat /proc/"$pid1"/comm 2>/dev/null)" = systemd ] && break
    kill -0 "$ns" 2>/dev/null || { cat "$log" >&2; skip "systemd could not be booted in namespaces here"; }
    sleep 0.1
done
[ "$(cat /proc/"$pid1"/comm 2>/dev/null)" = systemd ] || { cat "$log" >&2; skip "systemd did not come up as PID 1"; }
state=""
for _ in $(seq 300); do
    state=$(nsx systemctl is-system-running 2>/dev/null || true)
    case "$state" in running | degraded) break ;; esac
    sleep 0.2
done
case "$state" in running | degraded) ;; *) skip "the namespace's systemd did not finish booting ($state)" ;; esac
step "systemd booted ($state)"

# Waits up to $1 seconds for the command after it to succeed.
until_ok() {
    local limit=$1
    shift
    local end=$((SECONDS + limit))
    until "$@"; do
        [ $SECONDS -lt $end ] || return 1
        sleep 0.2
    done
}
main_pid() { nsx systemctl show -p MainPID --value "$unit"; }
on_air() { nsx systemctl status --no-pager "$unit" 2>/dev/null | grep -q 'Status: "On air, 0 listeners"'; }
active() { [ "$(nsx systemctl is-active "$unit")" = active ]; }
# MP3 from the listener port, decoded by mpg123.
hear() {
    nsx python3 - <<'PY' >"$scratch.mp3"
import socket, sys
s = socket.create_connection(("127.0.0.1", 6565), timeout=10)
s.sendall(b"GET / HTTP/1.0\r\nIcy-MetaData: 0\r\n\r\n")
data = b""
while b"\r\n\r\n" not in data:
    data += s.recv(4096)
head, body = data.split(b"\r\n\r\n", 1)
assert head.startswith(b"ICY 200 OK"), head
while len(body) < 16000:
    chunk = s.recv(4096)
    if not chunk:
        break
    body += chunk
sys.stdout.buffer.write(body)
PY
    [ "$(stat -c %s "$scratch.mp3")" -ge 16000 ] && mpg123 -q -t "$scratch.mp3" 2>/dev/null
}

nsx env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >/dev/null || fail "apt-get install"
[ "$(nsx systemctl is-enabled "$unit")" = disabled ] || fail "installing enabled the service"
! active || fail "installing started the service"
step "installed, disabled and stopped"

nsx sh -c "printf 'capture-device = tone\nradio-name = LiveTest\n' >>$conf"
nsx systemctl enable --now "$unit" >/dev/null 2>&1 || fail "enable --now"
until_ok 20 on_air || fail "not on the air after enable --now"
hear || fail "no MP3 on the listener port"
step "enable --now: on the air, MP3 on the listener port"
step "$(nsx systemd-analyze security "$unit" 2>/dev/null | grep 'Overall exposure level' || true)"

hung=$(main_pid)
nsx kill -STOP "$hung"
restarted() { [ "$(main_pid)" != "$hung" ] && [ "$(main_pid)" != 0 ] && on_air; }
until_ok 75 restarted || fail "the watchdog did not restart the hung station"
nsx journalctl --no-pager -u "$unit" | grep -q 'Watchdog timeout' || fail "no watchdog timeout in the journal"
hear || fail "no MP3 after the watchdog's restart"
step "kill -STOP: the watchdog restarted it, on the air again"

nsx systemctl stop "$unit"
nsx sh -c "sed -i 's/^radio-name = LiveTest$/radio-name = Saved/; \$a port = 99' $conf"
since=$(nsx date '+%Y-%m-%d %H:%M:%S')
nsx systemctl start "$unit" >/dev/null 2>&1 && fail "a bad port in the configuration file started"
# Beyond RestartSec: a retry would have come by now.
sleep 7
journal_since() { nsx journalctl --no-pager -o cat -u "$unit" --since "$since"; }
[ "$(journal_since | grep -c 'Scheduled restart job' || true)" = 0 ] || fail "a configuration error was retried"
[ "$(nsx systemctl is-active "$unit" || true)" = failed ] || fail "a configuration error did not fail the unit"
lines=$(journal_since | grep -c "$conf:[0-9]*: port = 99" || true)
[ "$lines" = 1 ] || fail "the bad line was reported $lines times, not once naming $conf"
step "a bad value fails once, naming $conf and the line"

nsx sh -c "sed -i '/^port = 99$/d' $conf && mv $conf $conf.away"
since=$(nsx date '+%Y-%m-%d %H:%M:%S')
nsx systemctl start "$unit" >/dev/null 2>&1 && fail "started without its configuration file"
until_ok 10 sh -c "nsenter -t $pid1 -a journalctl --no-pager -o cat -u $unit --since '$since' | grep -q '$conf: no such file'" ||
    fail "a missing configuration file is not named"
nsx mv "$conf.away" "$conf"
step "a missing configuration file is named"

nsx systemctl reset-failed "$unit"
nsx systemctl start "$unit" || fail "no start after the file was mended"
until_ok 20 on_air || fail "not on the air after the file was mended"
nsx systemctl stop "$unit"
nsx sh -c 'grep -q Saved /var/lib/private/vandorixserver/Optionen.ini' || fail "stop did not save the settings"
step "stop saves"

# Ended on purpose, exit code 0: not restarted. vandorixctl finds the port in the service's file.
ended() { [ "$(nsx systemctl is-active "$unit" || true)" = inactive ] &&
    [ "$(nsx systemctl show -p Result --value "$unit")" = success ]; }
for how in "vandorixctl Ende" "systemctl kill -s HUP $unit"; do
    nsx systemctl start "$unit"
    until_ok 20 on_air || fail "not on the air before $how"
    nsx $how || fail "$how"
    until_ok 15 ended || fail "$how did not end the service with success"
    sleep 6  # beyond RestartSec
    ended || fail "the service was started again after $how"
done
step "vandorixctl Ende and SIGHUP end it with success, not restarted"

nsx systemctl start "$unit"
until_ok 20 on_air || fail "not on the air before the upgrade"
before=$(main_pid)
nsx env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --reinstall "$deb" >/dev/null || fail "reinstall"
upgraded() { [ "$(main_pid)" != "$before" ] && [ "$(main_pid)" != 0 ] && on_air; }
until_ok 20 upgraded || fail "the reinstall did not restart the service"
nsx sh -c "readlink /proc/$(main_pid)/exe" | grep -qx /usr/bin/vandorixserver || fail "not running the new program"
step "a reinstall restarts it on the new program"

nsx env DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq vandorixserver >/dev/null || fail "apt-get remove"
! active || fail "apt-get remove left the service running"
nsx test ! -e /usr/bin/vandorixserver || fail "the program is still there"
step "apt-get remove stops it"

nsx env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq vandorixserver >/dev/null || fail "apt-get purge"
nsx test ! -e /var/lib/private/vandorixserver || fail "purge left the data"
nsx sh -c "! ls /etc/systemd/system/*.wants/$unit 2>/dev/null" || fail "purge left the enablement"
nsx test ! -e /etc/vandorixserver || fail "purge left /etc/vandorixserver"
step "apt-get purge removes data and enablement"

nsx systemctl poweroff >/dev/null 2>&1 || true
for _ in $(seq 300); do
    kill -0 "$ns" 2>/dev/null || break
    sleep 0.2
done
if kill -0 "$ns" 2>/dev/null; then
    fail "the namespace's systemd did not power off"
fi
wait "$ns" 2>/dev/null || true
ns=""
pid1=""
left=$(leftovers)
[ -z "$left" ] || fail "processes left after the poweroff: $left"
rm -f "$scratch.mp3" "$log"
step "poweroff: nothing left running. PASSED"
