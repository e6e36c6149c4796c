#!/usr/bin/env python3
"""Follows every link of Driftpost's index page as browsers do, and checks each answer.

Usage: follow_links.py PORT MANIFEST, MANIFEST being a JSON list of [full path, kind] of the
shared files (kind: picture, gif, sound, package or other). Pictures and the page's icons
must arrive as JPEG pictures: the icons 16 by 16, a scaled picture within 320 by 320, a
picture at full size as large as the file. curl --http1.0 and Python's
http.client ask as current browsers do (the path escaped as UTF-8, what follows a '?' in the
page's ISO-8859-15); a plain socket asks as an old browser does, with the link's bytes as
the page holds them. Prints each wrong answer and exits 1 when there was one.
"""
import http.client, json, re, socket, subprocess, sys, urllib.parse

LINK = re.compile(rb'<a href="([^"]*)">([^<]*)</a>', re.IGNORECASE)
IMAGE = re.compile(rb'<IMG SRC="([^"]*)">')
TYPES = {"sound": "audio/x-wav", "package": "application/x-newton-compatible-pkg", "other": "application/binary"}


def split_answer(raw):
    head, _, body = raw.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    fields = dict(line.split(": ", 1) for line in lines[1:])
    assert int(fields["Content-Length"]) == len(body), lines
    return int(lines[0].split()[1]), fields["Content-Type"], body


def jpeg_size(data):
    """Width and height from a JPEG's frame header, or None when it is no JPEG."""
    at = 2
    if data[:2] != b"\xff\xd8":
        return None
    while at + 9 <= len(data) and data[at] == 0xFF:
        marker, length = data[at + 1], int.from_bytes(data[at + 2:at + 4], "big")
        if 0xC0 <= marker <= 0xCF and marker not in (0xC4, 0xC8, 0xCC):
            return int.from_bytes(data[at + 7:at + 9], "big"), int.from_bytes(data[at + 5:at + 7], "big")
        at += 2 + length
    return None


def picture_size(path):
    """Width and height of a shared picture, from ImageMagick's identify."""
    out = subprocess.run(["identify", "-format", "%w %h", path], capture_output=True, check=True).stdout
    return tuple(int(n) for n in out.split())


def current_target(link):
    # Like a browser, the %XX escapes the link holds already are kept as they are.
    path, question, query = ("/" + link.decode("iso8859_15").lstrip("/")).partition("?")
    safe = "/:@!$&'()*+,;=~%"
    return urllib.parse.quote(path, safe) + question + urllib.parse.quote(query, safe + "?", encoding="iso8859_15")


def with_curl(port, link):
    url = "http://127.0.0.1:%d%s" % (port, current_target(link))
    return split_answer(subprocess.run(["curl", "--http1.0", "-sSi", "--path-as-is", url],
                                       capture_output=True, check=True).stdout)


def with_http_client(port, link):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    connection.request("GET", current_target(link))
    response = connection.getresponse()
    return response.status, response.getheader("Content-Type"), response.read()


def with_old_browser(port, link):
    with socket.create_connection(("127.0.0.1", port), timeout=30) as peer:
        peer.sendall(b"GET /" + link.lstrip(b"/") + b" HTTP/1.0\r\n\r\n")
        raw = b"".join(iter(lambda: peer.recv(65536), b""))
    return split_answer(raw)


def problems_of(client, port, manifest):
    index = client(port, b"/")[2]
    links = LINK.findall(index)
    for icon in sorted(set(IMAGE.findall(index))):
        status, content_type, body = client(port, icon)
        if (status, content_type, jpeg_size(body)) != (200, "image/jpeg", (16, 16)):
            yield "icon %s: %s %s %s" % (icon, status, content_type, jpeg_size(body))
    # A picture's name link follows its "AVI! " link to the scaled page.
    by_name = {text: (target, links[i - 1][0] if i > 0 and links[i - 1][1] == b"AVI! " else None)
               for i, (target, text) in enumerate(links) if text != b"AVI! "}
    for path, kind in manifest:
        content = open(path, "rb").read()
        target, scaled = by_name.get(path.rsplit("/", 1)[1].encode("iso8859_15", "replace"), (None, None))
        if target is None:
            yield "no link for " + path
        elif kind in ("picture", "gif"):
            for page, image in ((target, b".jpeg"), (scaled, b".ajpeg")):
                status, content_type, body = client(port, page or b"missing")
                source = re.findall(rb'<IMG SRC="/([^"]*)">', body)
                wanted = b".gif" if kind == "gif" else image
                if (status, content_type) != (200, "text/html") or not source or not source[0].endswith(wanted):
                    yield "%s: %s %s showing %s" % (page, status, content_type, source)
                elif kind == "gif" and client(port, source[0]) != (200, "image/gif", content):
                    yield "%s is not the GIF file" % source[0]
                elif kind == "picture":
                    status, content_type, body = client(port, source[0])
                    size, full = jpeg_size(body), picture_size(path)
                    wanted = full if image == b".jpeg" or max(full) <= 320 else None
                    if (status, content_type) != (200, "image/jpeg") or not size or \
                            (size != wanted if wanted else max(size) != 320):
                        yield "%s: %s %s of %s" % (source[0], status, content_type, size)
        elif client(port, target) != (200, TYPES[kind], content):
            yield "%s: %s" % (target, client(port, target)[:2])


def main():
    port, manifest = int(sys.argv[1]), json.load(open(sys.argv[2], encoding="utf-8"))
    problems = [client.__name__ + ": " + problem for client in (with_curl, with_http_client, with_old_browser)
                for problem in problems_of(client, port, manifest)]
    print("\n".join(problems + ["%d files, %d problems" % (len(manifest), len(problems))]))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
