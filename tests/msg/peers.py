"""Runs the Python peer readers for the .msg tests and prints JSON.

  peers.py olefile FILE   every stream of the compound file: path, size, sha256
  peers.py eml FILE       a MIME message: subject, from, text bodies, attachments
Exits with 77 when the peer is not installed.
"""
import hashlib
import json
import sys


def olefile_streams(path):
    try:
        import olefile
    except ImportError:
        sys.exit(77)
    ole = olefile.OleFileIO(path)
    streams = []
    for entry in ole.listdir(streams=True, storages=False):
        data = ole.openstream(entry).read()
        streams.append({"path": "/".join(entry), "size": len(data),
                        "sha256": hashlib.sha256(data).hexdigest()})
    return {"version": olefile.__version__, "rootClsid": ole.root.clsid, "streams": streams}


def parts(message, out):
    for part in message.iter_parts() if message.is_multipart() else [message]:
        if part.is_multipart():
            parts(part, out)
            continue
        if part.get_content_type() == "message/rfc822":
            inner = part.get_payload()[0] if part.is_multipart() or isinstance(part.get_payload(), list) else part.get_payload()
            out["messages"].append(describe(inner))
            continue
        payload = part.get_payload(decode=True) or b""
        name = part.get_filename()
        if name is None and part.get_content_maintype() == "text" and part.get_content_disposition() != "attachment":
            out["bodies"].append({"type": part.get_content_type(), "text": part.get_content()})
        else:
            out["attachments"].append({"name": name, "size": len(payload),
                                       "sha256": hashlib.sha256(payload).hexdigest()})


def describe(message):
    out = {"subject": str(message.get("Subject", "")).strip(), "from": str(message.get("From", "")),
           "to": str(message.get("To", "")), "bodies": [], "attachments": [], "messages": []}
    parts(message, out)
    return out


def eml(path):
    import email
    import email.policy
    with open(path, "rb") as f:
        return describe(email.message_from_binary_file(f, policy=email.policy.default))


if __name__ == "__main__":
    command, path = sys.argv[1], sys.argv[2]
    result = olefile_streams(path) if command == "olefile" else eml(path)
    json.dump(result, sys.stdout, ensure_ascii=False)
