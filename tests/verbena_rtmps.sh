#!/usr/bin/env bash
# rtmps:// through a TLS-terminating proxy (nginx's stream module) in front of nginx-rtmp, with
# certificates made here: one signed by a school's own authority, named with TrustedCA, publishes
# and what arrives decodes; the others are refused with their reason, and a reconnect to a proxy
# that comes back with a bad certificate is refused too.
source "$(dirname "${BASH_SOURCE[0]}")/verbena_common.sh"
need openssl nginx

# --- Certificates: a school's authority, another one, and server certificates for "localhost".
certs=$work/certs
mkdir -p "$certs"
make_certificates() {
  cd "$certs"
  local ca
  for ca in school other; do
    openssl req -x509 -newkey rsa:2048 -nodes -keyout $ca-ca.key -out $ca-ca.pem -days 30 \
      -subj "/CN=Test $ca authority" -addext basicConstraints=critical,CA:true
  done
  openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj /CN=localhost
  sign() {  # name authority host days
    printf 'subjectAltName=DNS:%s\n' "$3" >"$1.ext"
    openssl x509 -req -in server.csr -CA "$2-ca.pem" -CAkey "$2-ca.key" -CAcreateserial \
      -days "$4" -extfile "$1.ext" -out "$1.pem"
  }
  sign good school localhost 30
  sign other-host school other.school.test 30
  sign expired school localhost -1
  sign unknown other localhost 30
  openssl req -x509 -key server.key -out self-signed.pem -days 30 -subj /CN=localhost \
    -addext subjectAltName=DNS:localhost
}
(make_certificates) >"$work/openssl.log" 2>&1 || fail "openssl: $(cat "$work/openssl.log")"
# TrustedCA relative to the program's folder (the driver's copy in $work/bin).
cp "$certs/school-ca.pem" "$work/bin/school-ca.pem"

# --- The proxy: one TLS port per certificate, each in front of the RTMP server.
start_rtmp_server
proxy=$work/proxy
mkdir -p "$proxy"
names=(good other-host expired unknown self-signed)
declare -A port
for name in "${names[@]}"; do port[$name]=$(free_port); done
start_proxy() {  # [certificate that the "good" port serves instead]
  local name user=""
  [ "$(id -u)" -ne 0 ] || user="user root root;"
  {
    printf 'load_module /usr/lib/nginx/modules/ngx_stream_module.so;\n%s\n' "$user"
    printf 'pid %s/nginx.pid;\nerror_log %s/error.log info;\n' "$proxy" "$proxy"
    printf 'events { worker_connections 64; }\nstream {\n'
    for name in "${names[@]}"; do
      local certificate=$name
      [ "$name" != good ] || certificate=${1:-good}
      printf '  server { listen 127.0.0.1:%s ssl; proxy_pass 127.0.0.1:%s;\n' "${port[$name]}" "$rtmp_port"
      printf '    ssl_certificate %s/%s.pem; ssl_certificate_key %s/server.key; }\n' \
        "$certs" "$certificate" "$certs"
    done
    printf '}\n'
  } >"$proxy/nginx.conf"
  nginx -p "$proxy" -c "$proxy/nginx.conf" -e "$proxy/error.log" 2>>"$proxy/error.log" ||
    fail "the TLS proxy did not start: $(tail -3 "$proxy/error.log")"
  wait_until 5 "the TLS proxy does not listen" listening "${port[good]}"
}
stop_proxy() {  # at once, as a restart after a crash: its connections break
  [ ! -s "$proxy/nginx.pid" ] || stop_process "$(cat "$proxy/nginx.pid")"
  rm -f "$proxy/nginx.pid"
}
at_exit stop_proxy
start_proxy

url() { echo "rtmps://localhost:${port[$1]}/encoder/zel/mp4:$2.mp4"; }

# --- One start per certificate. Start failures: 7 not trusted, 8 expired, 9 another host.
#     certificate  TrustedCA     start_failure (0: publishes)
cases=(
  "good          school-ca.pem 0"
  "good          -             7"
  "good          missing.pem   7"
  "self-signed   school-ca.pem 7"
  "unknown       school-ca.pem 7"
  "other-host    school-ca.pem 9"
  "expired       school-ca.pem 8"
)
stream=10000000
for case in "${cases[@]}"; do
  read -r name trusted expected <<<"$case"
  stream=$((stream + 1))
  options=(--seconds 3 --width 160 --height 120 --rate 10)
  [ "$trusted" = - ] || options+=(--trusted-ca "$trusted")
  status=0
  "$driver" publish "$library" "$(url "$name" $stream)" "${options[@]}" >"$work/out" 2>"$work/err" ||
    status=$?
  if [ "$expected" = 0 ]; then
    [ "$status" = 0 ] && [ "$(value start_result "$work/out")" = 1 ] ||
      fail "$name with $trusted did not publish: $(cat "$work/err")"
    received=("$rtmp_dir/record/"mp4%3A$stream.mp4*.flv)
    wait_until 5 "nothing arrived from $name" test -s "${received[0]}"
    check_recording "${received[0]}" any 10 160 120
  else
    [ "$(value start_failure "$work/out")" = "$expected" ] ||
      fail "$name with $trusted: start_failure $(value start_failure "$work/out"), expected $expected: $(cat "$work/err")"
    ! ls "$rtmp_dir/record/"mp4%3A$stream.mp4*.flv >/dev/null 2>&1 ||
      fail "$name with $trusted reached the server"
    [ "$trusted" != missing.pem ] || grep -q "TrustedCA .*missing.pem cannot be read" "$work/err" ||
      fail "a TrustedCA file that is missing is not said"
  fi
  pass "$name certificate with TrustedCA $trusted: start_failure $expected"
done

# --- The program itself (Linux): config.ini's TrustedCA, and what the teacher is told.
if [ -z "$exe" ]; then
  start_xvfb 320x240
  copy_program
  cp "$certs/school-ca.pem" "$work/program/"
  set_config ScreenWidth=160 ScreenHeight=120 FrameRate=10 HaveAudio=0
  sed -i '/^\[Device\]/a TrustedCA=school-ca.pem' "$config"
  (cd "$work/elsewhere" && run --headless --duration 3 "$(launch_url "$(url good 20000001)&7")&") ||
    fail "the program did not publish through rtmps://: $(cat "$work/err")"
  grep -q "status: 正在直播 00:0[0-9] · 加密" "$work/err" || fail "the status does not say 加密"
  (cd "$work/elsewhere" &&
    run_expecting 1 "an expired certificate" --headless --duration 2 "$(launch_url "$(url expired 20000002)&7")&")
  grep -q "连接服务器失败" "$work/err" && grep -q "^服务器 localhost:${port[expired]} 的证书已过期" "$work/err" ||
    fail "the expired certificate is not told: $(cat "$work/err")"
  pass "the program: TrustedCA from config.ini publishes, 加密 in the status, an expired certificate told"
fi

# --- A break, and the proxy back with a self-signed certificate: every reconnect is refused.
stream=$((stream + 1))
publish break "$(url good $stream)" --trusted-ca school-ca.pem --seconds 10 --width 160 \
  --height 120 --rate 10
sleep 1
stop_proxy
start_proxy self-signed
wait $publisher || fail "the driver failed: $(cat "$work/break.err")"
grep -q "reconnecting to .* failed (the server's certificate is not from a trusted authority)" \
  "$work/break.err" || fail "no reconnect was refused for the certificate: $(cat "$work/break.err")"
[ "$(value reconnects "$work/break.out")" = 0 ] || fail "a reconnect got through the bad certificate"
recorded=("$rtmp_dir/record/"mp4%3A$stream.mp4*.flv)
[ ${#recorded[@]} = 1 ] || fail "${#recorded[@]} connections reached the server, expected 1"
pass "the proxy back with a self-signed certificate: $(value failed_attempts "$work/break.out") reconnects refused"
echo "PASS"
