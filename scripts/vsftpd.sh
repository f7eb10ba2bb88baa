#!/usr/bin/env bash
# A real FTP server for tests and the demo.
#   vsftpd.sh start STATE-DIR ADDRESS PORT ROOT [KEY=VALUE...]
#                                                 anonymous read; ROOT/incoming writable;
#                                                 each KEY=VALUE replaces that setting
#                                                 (port_enable=NO: passive mode only)
#   vsftpd.sh stop STATE-DIR                      stops it by its process id
# The protocol log (STATE-DIR/vsftpd.log) lets tests count logins and commands.
set -eu
cmd=$1; state=$2
case "$cmd" in
start)
  addr=$3; port=$4; root=$5
  shift 5
  mkdir -p "$state" "$root/incoming" /var/run/vsftpd/empty
  chmod 755 "$root"; chmod 777 "$root/incoming"
  [ -f "$root/hello.txt" ] || echo "hello from the test server" > "$root/hello.txt"
  if [ -f "$state/pid" ] && kill -0 "$(cat "$state/pid")" 2>/dev/null; then
    kill "$(cat "$state/pid")"; sleep 0.2
  fi
  cat > "$state/vsftpd.conf" <<CONF
listen=YES
listen_ipv6=NO
listen_address=$addr
listen_port=$port
background=NO
anonymous_enable=YES
local_enable=NO
no_anon_password=YES
anon_root=$root
write_enable=YES
anon_upload_enable=YES
anon_mkdir_write_enable=YES
anon_other_write_enable=YES
anon_world_readable_only=NO
anon_umask=022
allow_writeable_chroot=YES
connect_from_port_20=NO
port_enable=YES
pasv_enable=YES
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
secure_chroot_dir=/var/run/vsftpd/empty
xferlog_enable=YES
xferlog_std_format=NO
log_ftp_protocol=YES
vsftpd_log_file=$state/vsftpd.log
dirmessage_enable=NO
use_localtime=NO
max_clients=50
max_per_ip=50
idle_session_timeout=300
data_connection_timeout=120
CONF
  for setting in "$@"; do
    sed -i "s/^${setting%%=*}=.*/$setting/" "$state/vsftpd.conf"
    grep -qx "$setting" "$state/vsftpd.conf" || echo "$setting" >> "$state/vsftpd.conf"
  done
  : > "$state/vsftpd.log"
  vsftpd "$state/vsftpd.conf" > "$state/stdout" 2>&1 &
  echo $! > "$state/pid"
  for _ in $(seq 1 100); do
    if (exec 3<>"/dev/tcp/$addr/$port") 2>/dev/null; then exit 0; fi
    if ! kill -0 "$(cat "$state/pid")" 2>/dev/null; then
      echo "vsftpd did not start:" >&2; cat "$state/stdout" >&2; exit 1
    fi
    sleep 0.05
  done
  echo "vsftpd on $addr:$port did not answer" >&2; exit 1
  ;;
stop)
  if [ -f "$state/pid" ]; then
    kill "$(cat "$state/pid")" 2>/dev/null || true
    rm -f "$state/pid"
  fi
  ;;
*) echo "usage: $0 start STATE ADDR PORT ROOT | stop STATE" >&2; exit 2 ;;
esac
