"""pyftpdlib on 127.0.0.1: one account of full rights on ROOT starting in LOGIN, anonymous reading
when ANONYMOUS is 1, and with DOS 1 LIST alone (no MLSD or MLST) in the DOS/IIS dialect.

usage: ftp_server.py PORT ROOT USER PASSWORD LOGIN ANONYMOUS DOS
"""
import logging, os, stat, sys, time
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

port, root, user, password, login, anonymous, dos = sys.argv[1:8]

class FS(AbstractedFS):
    def __init__(self, r, channel):
        super().__init__(r, channel)
        self._cwd = login

    def format_list(self, basedir, listing, ignore_err=True):
        if dos != "1":
            yield from super().format_list(basedir, listing, ignore_err)
            return
        for name in listing:
            try:
                st = self.stat(os.path.join(basedir, name))
            except OSError:
                continue
            when = time.strftime("%m-%d-%y  %I:%M%p", time.gmtime(st.st_mtime))
            what = "<DIR>         " if stat.S_ISDIR(st.st_mode) else "%14d" % st.st_size
            yield ("%s       %s %s\r\n" % (when, what, name)).encode("utf8", self.cmd_channel.unicode_errors)

class Handler(FTPHandler):
    abstracted_fs = FS
    banner = "QNInet test FTP server ready."
    auth_failed_timeout = 0.1  # a failed login is answered at once, not after 3 s
    if dos == "1":
        proto_cmds = {k: v for k, v in FTPHandler.proto_cmds.items() if k not in ("MLSD", "MLST")}

Handler.authorizer = DummyAuthorizer()
Handler.authorizer.add_user(user, password, root, perm="elradfmwMT")
if anonymous == "1":
    Handler.authorizer.add_anonymous(root, perm="elr")
logging.basicConfig(level=logging.INFO, stream=sys.stderr)
FTPServer(("127.0.0.1", int(port)), Handler).serve_forever()
