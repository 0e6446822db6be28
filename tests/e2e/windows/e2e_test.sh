#!/usr/bin/env bash
# The built LaunchVeltraOnline.exe under Wine, as a user meets it: a Java
# launcher found on PATH or in JAVA_HOME\bin and started with the URL; none
# found, the JNLP file downloaded over https from nginx on the Linux side and
# handed to the program registered for .jnlp in the prefix; and the boxes
# (help, the download dialog, "Java is not installed"), each read and closed
# by a second Windows process.
#   e2e_test.sh LaunchVeltraOnline.exe box_reader.exe jnlp_handler.exe javaws.exe
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
run=$here/../../../scripts/wine-run.sh
launcher=$1 reader=$2 handler=$3 javaws=$4
work=$(mktemp -d)
# A prefix of the test's own: the association it registers stays out of the
# other suites' way.
export VTO_WINEPREFIX=${VTO_E2E_WINEPREFIX:-$(dirname "$launcher")/../wineprefix-e2e}
unset JAVA_HOME
export WINEPATH=
nginx_pid=
cleanup() {
  [[ -n $nginx_pid ]] && kill "$nginx_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
winpath() { WINEPREFIX=$VTO_WINEPREFIX winepath -w "$1" 2>/dev/null; }

passed=0
failed=0
check() {
  local name=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $name" >&2
  fi
}
within() {
  local i
  for ((i = 0; i < 100; i++)); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}
same_text() { [[ -f $1 && $(cat "$1") == "$2" ]]; }
exists() { [[ -e $1 ]]; }

"$run" cmd /c exit || exit 2
drive=$VTO_WINEPREFIX/drive_c
rm -rf "$drive/vto-e2e"
mkdir -p "$drive/vto-e2e/path" "$drive/vto-e2e/home/bin"

# Runs the launcher with the arguments; its exit code in $status.
launch() {
  "$run" "$launcher" "$@"
  status=$?
}
# Runs the launcher in the background and reads the box captioned $1 into $2.
launch_with_box() {
  local caption=$1 out=$2
  shift 2
  "$run" "$launcher" "$@" &
  local pid=$!
  "$run" "$reader" "$caption" "$(winpath "$out")" 30000
  wait "$pid"
  status=$?
}

# 1. javaws.exe on PATH: started with the URL, and nothing else shown.
url=https://veltra.example.com/e2e/vto.jnlp
cp "$javaws" "$drive/vto-e2e/path/javaws.exe"
out=$work/javaws-path.txt
WINEPATH='C:\vto-e2e\path' VTO_FAKE_JAVAWS_OUT=$(winpath "$out") launch -u "$url"
check "javaws.exe on PATH: exit 0" [ "$status" -eq 0 ]
check "javaws.exe on PATH: started with the URL" within same_text "$out" "$url"
rm -f "$drive/vto-e2e/path/javaws.exe"

# 2. javaws.exe in JAVA_HOME\bin only.
cp "$javaws" "$drive/vto-e2e/home/bin/javaws.exe"
out=$work/javaws-home.txt
JAVA_HOME='C:\vto-e2e\home' VTO_FAKE_JAVAWS_OUT=$(winpath "$out") launch -u "$url"
check "javaws.exe in JAVA_HOME\\bin: started with the URL" within same_text "$out" "$url"
rm -f "$drive/vto-e2e/home/bin/javaws.exe"

# 3. The help box.
box=$work/help.txt
launch_with_box Launchveltraonline "$box" -h
check "help: exit 0" [ "$status" -eq 0 ]
check "help: the box as designed" same_text "$box" "caption: Launchveltraonline
text: startup parameters:\\n  -h : help\\n  -d : debug will show dialogs to help identify issues\\n  -u [testurl for jnlp] : to test a different location for the JNLP
button: OK
icon: no"

# nginx on the Linux side, over TLS with a certificate made now.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
mkdir -p "$work/www" "$work/tmp"
printf '<?xml version="1.0"?>\n<jnlp href="vto.jnlp"><information><title>e2e</title></information></jnlp>\n' >"$work/www/vto.jnlp"
openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -days 2 \
  -keyout "$work/key.pem" -out "$work/cert.pem" >/dev/null 2>&1 || exit 2
cat >"$work/nginx.conf" <<CONF
daemon off;
pid $work/nginx.pid;
error_log $work/error.log;
events {}
http {
  access_log off;
  client_body_temp_path $work/tmp; proxy_temp_path $work/tmp; fastcgi_temp_path $work/tmp;
  uwsgi_temp_path $work/tmp; scgi_temp_path $work/tmp;
  types { application/x-java-jnlp-file jnlp; }
  server {
    listen 127.0.0.1:$port ssl;
    ssl_certificate $work/cert.pem;
    ssl_certificate_key $work/key.pem;
    root $work/www;
  }
}
CONF
nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)
"$nginx_bin" -c "$work/nginx.conf" -p "$work" &
nginx_pid=$!
ready() { (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; }
within ready || { echo "nginx did not start" >&2; exit 2; }

# 4. No Java launcher, .jnlp associated: the download is saved whole and handed
# to the associated program.
cp "$handler" "$drive/vto-e2e/handler.exe"
"$run" reg add 'HKCU\Software\Classes\.jnlp' /ve /d JNLPFile /f >/dev/null
"$run" reg add 'HKCU\Software\Classes\.jnlp' /v 'Content Type' /d application/x-java-jnlp-file /f >/dev/null
"$run" reg add 'HKCU\Software\Classes\JNLPFile\shell\open\command' /ve \
  /d '"C:\vto-e2e\handler.exe" "%1"' /f >/dev/null
out=$work/handler.txt
VTO_HANDLER_OUT=$(winpath "$out") launch -u "https://127.0.0.1:$port/vto.jnlp"
check "download: exit 0" [ "$status" -eq 0 ]
check "download: the associated program was started" within exists "$out"
sleep 0.3
saved=$(head -n 1 "$out" 2>/dev/null | tr -d '\r')
check "download: a vto….tmp.jnlp in the temporary folder" \
  [[ "$saved" =~ ^C:\\users\\[^\\]+\\Temp\\vto[0-9A-Fa-f]{1,4}\.tmp\.jnlp$ ]]
check "download: the file holds the body whole" \
  [ "$(tail -n +2 "$out" 2>/dev/null)" == "$(cat "$work/www/vto.jnlp")" ]

# 5. A download that fails: the one download dialog.
closed=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
box=$work/download-error.txt
launch_with_box Error "$box" -u "https://127.0.0.1:$closed/vto.jnlp"
check "download error: exit 0" [ "$status" -eq 0 ]
check "download error: the dialog as designed" same_text "$box" "caption: Error
text: Unable to download https://127.0.0.1:$closed/vto.jnlp\\nContact your IT administrator for assistance.
button: Cancel
icon: yes"

# 6. Downloaded, but nothing is associated with .jnlp.
"$run" reg delete 'HKCU\Software\Classes\.jnlp' /f >/dev/null
"$run" reg delete 'HKCU\Software\Classes\JNLPFile' /f >/dev/null
box=$work/no-java.txt
launch_with_box Error "$box" -u "https://127.0.0.1:$port/vto.jnlp"
check "no association: exit 0" [ "$status" -eq 0 ]
check "no association: Java is not installed" same_text "$box" "caption: Error
text: Java is not installed on your computer. Please contact your IT department for assistance.
button: Cancel
icon: yes"

echo "windows e2e: $passed passed, $failed failed"
((failed == 0))
