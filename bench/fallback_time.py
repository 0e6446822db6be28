#!/usr/bin/env python3
"""Whole-process time of the download path, against two baselines in the same run.

No Java launcher is on PATH, so LaunchVeltraOnline downloads a 4 KB JNLP file
over https from nginx on loopback, saves it and has the desktop open it with
the application associated with JNLP files (a private desktop database whose
application is /bin/true): from start to the application started. The same
work done by hand, `curl -o FILE URL && gio open FILE`, and the download alone,
`curl -o FILE URL`, are timed in the same rounds; runs alternate so that all
see the same machine. curl runs as it does for a user, verifying the server
against the system's trusted roots (here: those roots and the certificate the
server was given, made for this run). For comparison only, without a target,
`curl -k` (no verification, no roots) is timed too.

Targets: the launcher's median at most 0.7x of curl + gio open, and at most
1.1x of curl alone.

usage: bench/fallback_time.py path/to/LaunchVeltraOnline [runs]
"""
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

JNLP = ('<?xml version="1.0" encoding="utf-8"?>\n<jnlp spec="1.0+" codebase="https://example">\n'
        + "".join(f'  <property name="p{i:03}" value="{"v" * 20}"/>\n' for i in range(72))
        + "</jnlp>\n")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_nginx(root):
    os.chmod(root, 0o755)
    www = os.path.join(root, "www")
    os.mkdir(www)
    with open(os.path.join(www, "vto.jnlp"), "w") as f:
        f.write(JNLP)
    cert, key = os.path.join(root, "cert.pem"), os.path.join(root, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                    "-out", cert, "-subj", "/CN=localhost", "-addext",
                    "subjectAltName=DNS:localhost", "-days", "2"],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    # The roots curl trusts: the system's, and this server's own certificate.
    with open(os.path.join(root, "roots.pem"), "w") as out:
        with open("/etc/ssl/certs/ca-certificates.crt") as system:
            out.write(system.read())
        with open(cert) as own:
            out.write(own.read())
    os.chmod(key, 0o644)
    port = free_port()
    conf = os.path.join(root, "nginx.conf")
    with open(conf, "w") as f:
        f.write(f"""daemon off; worker_processes 1; pid {root}/nginx.pid;
error_log {root}/error.log warn;
events {{ worker_connections 64; }}
http {{
  access_log off;
  client_body_temp_path {root}/body; proxy_temp_path {root}/proxy;
  fastcgi_temp_path {root}/fastcgi; uwsgi_temp_path {root}/uwsgi; scgi_temp_path {root}/scgi;
  types {{ application/x-java-jnlp-file jnlp; }}
  server {{
    listen 127.0.0.1:{port} ssl;
    ssl_certificate {cert}; ssl_certificate_key {key};
    root {www};
  }}
}}
""")
    nginx = subprocess.Popen(["/usr/sbin/nginx", "-c", conf, "-e", os.path.join(root, "error.log")],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(200):
        try:
            socket.create_connection(("127.0.0.1", port), timeout=0.1).close()
            return nginx, f"https://localhost:{port}/vto.jnlp"
        except OSError:
            time.sleep(0.025)
    nginx.kill()
    raise SystemExit("nginx did not start: " + open(os.path.join(root, "error.log")).read())


def desktop_env(root):
    """A private desktop database whose application for JNLP files is /bin/true."""
    apps = os.path.join(root, "data", "applications")
    os.makedirs(apps)
    os.makedirs(os.path.join(root, "config"))
    os.makedirs(os.path.join(root, "tmp"))
    os.makedirs(os.path.join(root, "bin"))
    with open(os.path.join(apps, "vto-bench-opener.desktop"), "w") as f:
        f.write("[Desktop Entry]\nType=Application\nName=Opener\nExec=/bin/true %f\n"
                "MimeType=application/x-java-jnlp-file;\n")
    with open(os.path.join(root, "config", "mimeapps.list"), "w") as f:
        f.write("[Default Applications]\napplication/x-java-jnlp-file=vto-bench-opener.desktop\n")
    return {"PATH": os.path.join(root, "bin"), "TMPDIR": os.path.join(root, "tmp"),
            "HOME": root, "XDG_DATA_HOME": os.path.join(root, "data"),
            "XDG_CONFIG_HOME": os.path.join(root, "config"), "XDG_DATA_DIRS": "/usr/share",
            "XDG_CONFIG_DIRS": os.path.join(root, "none")}


def timed(commands, env):
    start = time.perf_counter_ns()
    for argv in commands:
        subprocess.run(argv, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=True)
    return (time.perf_counter_ns() - start) / 1e6


def main():
    launcher = os.path.abspath(sys.argv[1])
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 100
    curl, gio = shutil.which("curl"), shutil.which("gio")
    if not curl or not gio:
        raise SystemExit("needs curl and gio (libglib2.0-bin)")
    with tempfile.TemporaryDirectory() as root:
        nginx, url = start_nginx(root)
        try:
            env = desktop_env(root)
            # PATH holds one empty folder: no Java launcher. curl and gio go by full name.
            saved = os.path.join(root, "tmp", "by-hand.jnlp")
            roots = os.path.join(root, "roots.pem")
            cases = {
                "LaunchVeltraOnline": [[launcher, "-u", url]],
                "curl + gio open": [[curl, "-s", "--cacert", roots, "-o", saved, url],
                                    [gio, "open", saved]],
                "curl": [[curl, "-s", "--cacert", roots, "-o", saved, url]],
                "curl -k": [[curl, "-sk", "-o", saved, url]],
            }
            times = {name: [] for name in cases}
            for _ in range(10):  # warm the page cache
                for name, commands in cases.items():
                    timed(commands, env)
            for i in range(runs):
                for name, commands in cases.items():
                    times[name].append(timed(commands, env))
                if i % 20 == 19:  # the launcher leaves two files a run
                    for entry in os.listdir(env["TMPDIR"]):
                        os.unlink(os.path.join(env["TMPDIR"], entry))
        finally:
            nginx.terminate()
            nginx.wait()
    med = {name: statistics.median(t) for name, t in times.items()}
    print(f"runs: {runs}, a {len(JNLP)}-byte JNLP file over https from nginx on loopback")
    for name, m in med.items():
        print(f"{name:20} median {m:7.2f} ms")
    ours = med["LaunchVeltraOnline"]
    r_gio, r_curl = ours / med["curl + gio open"], ours / med["curl"]
    print(f"against curl + gio open: {r_gio:.2f}x (target at most 0.70x)")
    print(f"against curl alone:      {r_curl:.2f}x (target at most 1.10x)")
    print(f"against curl -k:         {ours / med['curl -k']:.2f}x (no target)")
    return 0 if r_gio <= 0.7 and r_curl <= 1.1 else 1


if __name__ == "__main__":
    sys.exit(main())
