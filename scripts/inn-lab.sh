#!/usr/bin/env bash
# A throw-away INN 2.7 (Debian's inn2) on 127.0.0.1 for integration tests and benchmarks.
#
#   inn-lab.sh install                      install inn2 when missing (root)
#   inn-lab.sh start [options]              write a configuration under --dir and start
#                                           innd (feed port) and three nnrpd listeners:
#                                           plain, login-required and implicit TLS
#   inn-lab.sh fill --feeder PATH [--dir D] -- FEEDER_ARGS...
#                                           create the feeder's groups and feed its articles
#   inn-lab.sh stop [--dir D] [--purge]     stop this directory's INN (and delete it)
#
# start options: --dir DIR (default /tmp/zevrin-inn), --port N (11119), --auth-port N
# (11120), --tls-port N (11563), --feed-port N (11118), --user U --password P
# (testuser/testpass), --max-article BYTES (16 MiB), --quickack.
# Everything lives under DIR; DIR/inn-lab.env has the ports, the account and the paths of
# the certificates (a CA made at start and the server certificate it signed) for tests.
set -euo pipefail

NEWSBIN=/usr/lib/news/bin
DIR=/tmp/zevrin-inn
PORT=11119 AUTH_PORT=11120 TLS_PORT=11563 FEED_PORT=11118
USER_NAME=testuser USER_PASS=testpass
MAX_ARTICLE=$((16 * 1024 * 1024))
QUICKACK=0 PURGE=0 FEEDER=
say() { echo "inn-lab: $*" >&2; }
die() { say "error: $*"; exit 1; }

need_root() { [ "$(id -u)" = 0 ] || die "must run as root (INN drops to user 'news' itself)"; }
installed() { [ -x "$NEWSBIN/innd" ] && [ -x "$NEWSBIN/nnrpd" ] && dpkg-query -W -f='${Status}' inn2 2>/dev/null | grep -q 'install ok installed'; }

do_install() {
  installed && command -v openssl >/dev/null && return 0
  need_root
  local log=/tmp/zevrin-inn-install.log
  # One installer at a time: test binaries of two builds may ask at once.
  exec 9>/var/lock/zevrin-inn-install.lock
  flock 9
  installed && return 0
  say "installing inn2 from the Debian archive (log: $log)"
  export DEBIAN_FRONTEND=noninteractive
  local madePolicy=0
  if [ ! -e /usr/sbin/policy-rc.d ]; then  # keep the package from starting a system-wide innd
    printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d && chmod 755 /usr/sbin/policy-rc.d && madePolicy=1
  fi
  local opts=(-y -q -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold)
  for attempt in 1 2; do
    if [ $attempt = 2 ] || ! apt-cache policy inn2 2>/dev/null | grep -q 'Candidate: [0-9]'; then
      apt-get update -q >>"$log" 2>&1 || true
    fi
    apt-get install "${opts[@]}" inn2 openssl >>"$log" 2>&1 || true
    if ! installed && [ -f /etc/news/inn.conf ]; then
      # inn2's post-install fails when the host name has no dot: it cannot make a
      # domain for Message-IDs. A domain line lets the configuration finish.
      grep -q '^domain:' /etc/news/inn.conf || echo 'domain: zevrin.test' >> /etc/news/inn.conf
      dpkg --configure -a >>"$log" 2>&1 || true
    fi
    installed && break
  done
  [ $madePolicy = 1 ] && rm -f /usr/sbin/policy-rc.d
  installed || { tail -n 15 "$log" >&2; die "inn2 did not install"; }
}

alive() {  # pid program: running (not a zombie) and still that INN program
  [ -n "$1" ] && [ -r "/proc/$1/stat" ] || return 1
  local stat; stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
  stat=${stat##*) }; [ "${stat%% *}" != Z ] || return 1
  [ "$(readlink "/proc/$1/exe" 2>/dev/null)" = "$NEWSBIN/$2" ]
}

do_stop() {
  local pids=() pid f
  pid=$(cat "$DIR/run/innd.pid" 2>/dev/null || true)
  if alive "$pid" innd; then
    INNCONF=$DIR/etc/inn.conf timeout 30 "$NEWSBIN/ctlinnd" -s -t 20 shutdown "inn-lab stop" >/dev/null 2>&1 || true
    pids+=("$pid")
  fi
  for f in "$DIR"/run/nnrpd*.pid; do
    [ -f "$f" ] || continue
    pid=$(cat "$f" 2>/dev/null || true)
    if alive "$pid" nnrpd; then
      pkill -TERM -P "$pid" 2>/dev/null || true  # the readers it forked
      kill -TERM "$pid" 2>/dev/null || true
      pids+=("$pid")
    fi
  done
  for _ in $(seq 100); do
    local any=0
    for pid in "${pids[@]}"; do alive "$pid" innd || alive "$pid" nnrpd && any=1; done
    [ $any = 0 ] && break
    sleep 0.1
  done
  for pid in "${pids[@]}"; do { alive "$pid" innd || alive "$pid" nnrpd; } && kill -KILL "$pid" 2>/dev/null; done
  rm -f "$DIR"/run/*.pid
  if [ -f "$DIR/run/quickack.route" ]; then
    ip route change table local $(cat "$DIR/run/quickack.route") 2>/dev/null || say "warning: quickack left on the 127.0.0.1 route"
    rm -f "$DIR/run/quickack.route"
  fi
  if [ $PURGE = 1 ] && [ -f "$DIR/etc/inn.conf" ]; then rm -rf "$DIR"; fi
  return 0
}

write_config() {
  local etc=$DIR/etc
  mkdir -p "$etc" "$DIR"/{db,log,run,tmp,filter,http} "$DIR"/spool/{articles,overview,outgoing,archive,incoming/tmp,incoming/bad}
  for f in /etc/news/*.conf /etc/news/*.ctl /etc/news/distributions /etc/news/distrib.pats /etc/news/moderators /etc/news/subscriptions; do
    [ -f "$f" ] && cp "$f" "$etc/"
  done
  rm -f "$etc/inn-radius.conf"
  cat > "$etc/inn.conf" <<EOF
organization: "Zevrin INN lab"
pathhost: zevrin-inn.test
domain: zevrin.test
fromhost: zevrin.test
server: 127.0.0.1
port: $FEED_PORT
bindaddress: 127.0.0.1
nnrpdposthost: 127.0.0.1
nnrpdpostport: $FEED_PORT
mta: "/bin/true %s"
mailcmd: /bin/true
runasuser: news
runasgroup: news
ovmethod: tradindexed
enableoverview: true
hismethod: hisv6
storeonxref: true
wireformat: true
artcutoff: 0
maxartsize: $MAX_ARTICLE
localmaxartsize: $MAX_ARTICLE
noreader: true
readerswhenstopped: true
nnrpdloadlimit: 0
docancels: all
remembertrash: false
verifygroups: false
linecountfuzz: 0
checkincludedtext: false
keywords: false
status: 0
timer: 0
logstatus: false
doinnwatch: false
nicekids: 0
nicennrpd: 0
clienttimeout: 1800
tlscapath: $etc
tlscertfile: $etc/server.pem
tlskeyfile: $etc/server-key.pem
tlsprotocols: [ TLSv1.2 TLSv1.3 ]
pathnews: /usr/lib/news
pathbin: /usr/lib/news/bin
pathcontrol: /usr/lib/news/bin/control
pathetc: $etc
pathfilter: $DIR/filter
pathdb: $DIR/db
pathrun: $DIR/run
pathlog: $DIR/log
pathhttp: $DIR/http
pathspool: $DIR/spool
patharticles: $DIR/spool/articles
pathoverview: $DIR/spool/overview
pathincoming: $DIR/spool/incoming
pathtmp: $DIR/tmp
pathoutgoing: $DIR/spool/outgoing
patharchive: $DIR/spool/archive
EOF
  printf 'method timecaf {\n  newsgroups: *\n  class: 0\n}\n' > "$etc/storage.conf"
  printf 'ME:*::\n' > "$etc/newsfeeds"
  printf 'streaming: true\nmax-connections: 16\npeer ME {\n  hostname: "localhost, 127.0.0.1, ::1"\n}\n' > "$etc/incoming.conf"
  printf '/remember/:11\n*:A:never:never:never\n' > "$etc/expire.ctl"
  printf '%s:%s\n' "$USER_NAME" "$(openssl passwd -5 "$USER_PASS")" > "$etc/newsusers"
  # Anyone may read all but the private hierarchy; a login opens that too.
  cat > "$etc/readers.conf" <<EOF
auth "loopback" {
  hosts: "127.0.0.1, ::1, localhost"
  auth: "ckpasswd -f $etc/newsusers"
  default: "<anonymous>"
}
access "anonymous" {
  users: "*"
  newsgroups: "*,!zevrin.test.private.*"
}
access "users" {
  users: "*,!<anonymous>"
  newsgroups: "*"
}
EOF
  cat > "$etc/readers-auth.conf" <<EOF
auth "login-only" {
  hosts: "127.0.0.1, ::1, localhost"
  auth: "ckpasswd -f $etc/newsusers"
}
access "users" {
  users: "*"
  newsgroups: "*"
}
EOF
  if [ ! -s "$etc/server.pem" ]; then  # a CA of our own, so tests can trust it, or not
    openssl req -x509 -new -nodes -newkey ec -pkeyopt ec_paramgen_curve:P-256 -days 3650 -subj "/CN=Zevrin INN lab CA" \
      -addext "basicConstraints=critical,CA:TRUE" -keyout "$etc/ca-key.pem" -out "$etc/ca.pem" >/dev/null 2>&1
    openssl req -new -nodes -newkey ec -pkeyopt ec_paramgen_curve:P-256 -subj "/CN=localhost" \
      -keyout "$etc/server-key.pem" -out "$etc/server.csr" >/dev/null 2>&1
    printf 'subjectAltName=DNS:localhost,IP:127.0.0.1,IP:::1\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' > "$etc/server.ext"
    openssl x509 -req -in "$etc/server.csr" -CA "$etc/ca.pem" -CAkey "$etc/ca-key.pem" -CAcreateserial -days 3650 \
      -extfile "$etc/server.ext" -out "$etc/server.pem" >/dev/null 2>&1 || die "could not make the TLS certificate"
  fi
  if [ ! -s "$DIR/db/active" ]; then
    printf 'control 0000000000 0000000001 n\ncontrol.cancel 0000000000 0000000001 n\njunk 0000000000 0000000001 n\n' > "$DIR/db/active"
    : > "$DIR/db/active.times"
    : > "$DIR/db/newsgroups"
  fi
  chown -R news:news "$DIR"
  chmod 755 "$DIR"
  chmod 600 "$etc/server-key.pem" "$etc/ca-key.pem"
  chmod 640 "$etc/newsusers"
  su news -s /bin/sh -c "test -w '$DIR'" || die "user 'news' cannot reach $DIR; use a directory under /tmp"
  if [ ! -e "$DIR/db/history.dir" ]; then
    su news -s /bin/sh -c "cd '$DIR/db' && : > history && INNCONF='$etc/inn.conf' $NEWSBIN/makedbz -i -o -s 100000" \
      >"$DIR/log/makedbz.out" 2>&1 || die "makedbz failed: $(cat "$DIR/log/makedbz.out")"
  fi
  INNCONF=$etc/inn.conf "$NEWSBIN/innconfval" -C >"$DIR/log/innconfval.out" 2>&1 || die "inn.conf: $(cat "$DIR/log/innconfval.out")"
}

greets() {  # port: reads the greeting line
  timeout 5 bash -c 'exec 3<>"/dev/tcp/127.0.0.1/$0" && IFS= read -r -t 4 line <&3 && printf "%s\n" "$line"' "$1" 2>/dev/null
}

do_start() {
  need_root
  do_install
  do_stop
  for p in "$PORT" "$AUTH_PORT" "$TLS_PORT" "$FEED_PORT"; do
    (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null && die "port $p is in use"
  done
  write_config
  export INNCONF=$DIR/etc/inn.conf
  (cd "$DIR" && "$NEWSBIN/innd" >"$DIR/log/innd.out" 2>&1) || die "innd did not start: $(tail -n 5 "$DIR/log/innd.out")"
  local deadline=$((SECONDS + 30))
  until "$NEWSBIN/ctlinnd" -s -t 2 mode >/dev/null 2>&1; do
    [ $SECONDS -lt $deadline ] || die "innd did not come up; see $DIR/log/errlog"
    sleep 0.1
  done
  "$NEWSBIN/nnrpd" -D -p "$PORT" -4 127.0.0.1 -n >"$DIR/log/nnrpd-plain.out" 2>&1
  "$NEWSBIN/nnrpd" -D -p "$AUTH_PORT" -4 127.0.0.1 -n -c "$DIR/etc/readers-auth.conf" >"$DIR/log/nnrpd-auth.out" 2>&1
  "$NEWSBIN/nnrpd" -D -p "$TLS_PORT" -4 127.0.0.1 -n -S >"$DIR/log/nnrpd-tls.out" 2>&1
  for p in "$FEED_PORT" "$PORT" "$AUTH_PORT"; do
    until greets "$p" | grep -q '^20[01] '; do
      [ $SECONDS -lt $deadline ] || die "port $p does not answer; logs in $DIR/log"
      sleep 0.1
    done
  done
  until echo QUIT | timeout 5 openssl s_client -quiet -connect "127.0.0.1:$TLS_PORT" 2>/dev/null | grep -q '^20[01] '; do
    [ $SECONDS -lt $deadline ] || die "TLS port $TLS_PORT does not answer; logs in $DIR/log"
    sleep 0.2
  done
  if [ $QUICKACK = 1 ]; then
    # nnrpd writes a status line and its data separately; with the client's delayed ACK
    # each unpipelined multi-line answer then waits ~40 ms on loopback.
    local route; route=$(ip route show table local 127.0.0.1 2>/dev/null | head -n 1)
    if [ -n "$route" ] && [[ "$route" != *quickack* ]] && ip route change table local $route quickack 1 2>/dev/null; then
      echo "$route" > "$DIR/run/quickack.route"
    fi
  fi
  cat > "$DIR/inn-lab.env" <<EOF
INN_LAB_DIR=$DIR
INN_LAB_HOST=127.0.0.1
INN_LAB_PORT=$PORT
INN_LAB_AUTH_PORT=$AUTH_PORT
INN_LAB_TLS_PORT=$TLS_PORT
INN_LAB_FEED_PORT=$FEED_PORT
INN_LAB_USER=$USER_NAME
INN_LAB_PASS=$USER_PASS
INN_LAB_CA=$DIR/etc/ca.pem
INN_LAB_CERT=$DIR/etc/server.pem
INNCONF=$DIR/etc/inn.conf
EOF
  chmod 644 "$DIR/inn-lab.env"
  say "ready: plain 127.0.0.1:$PORT, login 127.0.0.1:$AUTH_PORT, TLS 127.0.0.1:$TLS_PORT, feed 127.0.0.1:$FEED_PORT ($DIR/inn-lab.env)"
}

do_fill() {
  [ -n "$FEEDER" ] && [ -x "$FEEDER" ] || die "fill needs --feeder PATH (the built zevrin-innfeed)"
  [ -f "$DIR/inn-lab.env" ] || die "no running instance in $DIR (start first)"
  export INNCONF=$DIR/etc/inn.conf
  local group flag
  while read -r group flag; do
    "$NEWSBIN/ctlinnd" -s newgroup "$group" y inn-lab >/dev/null 2>&1 || true
    printf '%s\tZevrin test group\n' "$group" >> "$DIR/db/newsgroups"
  done < <("$FEEDER" "$@" --list-groups)
  "$FEEDER" --port "$FEED_PORT" "$@"
}

cmd=${1:-}; shift || true
while [ $# -gt 0 ]; do
  case "$1" in
    --dir) DIR=${2%/}; shift 2 ;;
    --port) PORT=$2; shift 2 ;;
    --auth-port) AUTH_PORT=$2; shift 2 ;;
    --tls-port) TLS_PORT=$2; shift 2 ;;
    --feed-port) FEED_PORT=$2; shift 2 ;;
    --user) USER_NAME=$2; shift 2 ;;
    --password) USER_PASS=$2; shift 2 ;;
    --max-article) MAX_ARTICLE=$2; shift 2 ;;
    --quickack) QUICKACK=1; shift ;;
    --purge) PURGE=1; shift ;;
    --feeder) FEEDER=$2; shift 2 ;;
    --) shift; break ;;
    *) die "unknown option $1" ;;
  esac
done
case "$DIR" in /tmp/?*) ;; *) die "--dir must be a directory of its own under /tmp" ;; esac
if [ -f "$DIR/inn-lab.env" ] && [ "$cmd" = fill ]; then
  FEED_PORT=$(sed -n 's/^INN_LAB_FEED_PORT=//p' "$DIR/inn-lab.env")
fi
case "$cmd" in
  install) do_install ;;
  start) do_start ;;
  fill) do_fill "$@" ;;
  stop) do_stop ;;
  *) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
esac
