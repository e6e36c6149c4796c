#!/usr/bin/env python3
"""Follows every link of Driftpost's index page as browsers do, and checks each answer.

Usage: follow_links.py PORT MANIFEST

MANIFEST is a JSON list of shared files: [full path, kind], kind being "picture", "gif",
"sound", "package" or "other". Three clients follow the links: curl --http1.0 and Python's
http.client, each asking as a current browser does (the link's path escaped as UTF-8, the
part after a '?' in the page's ISO-8859-15), and a plain socket that asks as an old browser
does, with the link's bytes as the page holds them. Exits 1 when an answer is wrong.
"""
import http.client
import json
import re
import socket
import subprocess
import sys
import urllib.parse

PAGE_ENCODING = "iso8859_15"
LINK = re.compile(rb'<a href="([^"]*)">([^<]*)</a>', re.IGNORECASE)
IMAGE = re.compile(rb'<IMG SRC="([^"]*)">')
CONTENT_TYPES = {
    "sound": "audio/x-wav",
    "package": "application/x-newton-compatible-pkg",
    "other": "application/binary",
}


def split_answer(raw):
    head, _, body = raw.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    status = int(lines[0].split()[1])
    fields = dict(line.split(": ", 1) for line in lines[1:] if ": " in line)
    if int(fields.get("Content-Length", -1)) != len(body):
        raise AssertionError("Content-Length %s for %d bytes" % (fields.get("Content-Length"), len(body)))
    return status, fields.get("Content-Type"), body


def current_browser_target(link):
    text = link.decode(PAGE_ENCODING)
    if not text.startswith("/"):
        text = "/" + text
    path, question, query = text.partition("?")
    target = urllib.parse.quote(path, safe="/:@!$&'()*+,;=~")
    if question:
        target += "?" + urllib.parse.quote(query, safe="/?:@!$&'()*+,;=~", encoding=PAGE_ENCODING)
    return target


def old_browser_target(link):
    return link if link.startswith(b"/") else b"/" + link


def with_curl(port, link):
    url = "http://127.0.0.1:%d%s" % (port, current_browser_target(link))
    raw = subprocess.run(["curl", "--http1.0", "-s", "-S", "-i", "--path-as-is", url],
                         capture_output=True, check=True, timeout=30).stdout
    return split_answer(raw)


def with_http_client(port, link):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    connection.request("GET", current_browser_target(link))
    response = connection.getresponse()
    body = response.read()
    connection.close()
    return response.status, response.getheader("Content-Type"), body


def with_old_browser(port, link):
    with socket.create_connection(("127.0.0.1", port), timeout=30) as peer:
        peer.sendall(b"GET " + old_browser_target(link) + b" HTTP/1.0\r\n\r\n")
        raw = b""
        while True:
            piece = peer.recv(65536)
            if not piece:
                break
            raw += piece
    return split_answer(raw)


def check(client, port, manifest):
    problems = []

    def expect(condition, message):
        if not condition:
            problems.append("%s: %s" % (client.__name__, message))

    status, content_type, index = client(port, b"/")
    expect(status == 200 and content_type == "text/html", "index page: %s %s" % (status, content_type))
    links = LINK.findall(index)
    by_name = {}
    for position, (target, text) in enumerate(links):
        if text == b"AVI! ":
            continue
        # A picture's name link follows its "AVI! " link to the scaled page.
        scaled = links[position - 1][0] if position > 0 and links[position - 1][1] == b"AVI! " else None
        by_name[text] = (target, scaled)

    for path, kind in manifest:
        name = path.rsplit("/", 1)[1].encode(PAGE_ENCODING, errors="replace")
        with open(path, "rb") as shared:
            content = shared.read()
        if name not in by_name:
            expect(False, "no link for %s" % path)
            continue
        target, scaled = by_name[name]
        if kind in ("picture", "gif"):
            expect(scaled is not None, "no AVI! link for %s" % path)
            for page_link, image_suffix in ((target, b".jpeg"), (scaled or target, b".ajpeg")):
                status, content_type, page = client(port, page_link)
                images = IMAGE.findall(page)
                expect(status == 200 and content_type == "text/html", "%s: %s %s" % (page_link, status, content_type))
                wanted = b".gif" if kind == "gif" else image_suffix
                expect(len(images) == 1 and images[0].endswith(wanted), "%s shows %s" % (page_link, images))
                if kind == "gif" and images:
                    status, content_type, body = client(port, images[0])
                    expect((status, content_type, body) == (200, "image/gif", content),
                           "%s: %s %s, %d bytes" % (images[0], status, content_type, len(body)))
        else:
            status, content_type, body = client(port, target)
            expect((status, content_type, body) == (200, CONTENT_TYPES[kind], content),
                   "%s: %s %s, %d bytes" % (target, status, content_type, len(body)))
    return problems


def main():
    port = int(sys.argv[1])
    with open(sys.argv[2], encoding="utf-8") as listing:
        manifest = json.load(listing)
    problems = []
    for client in (with_curl, with_http_client, with_old_browser):
        problems += check(client, port, manifest)
    for problem in problems:
        print(problem)
    print("%d files, %d problems" % (len(manifest), len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
