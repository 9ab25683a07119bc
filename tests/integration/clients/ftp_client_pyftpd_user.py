# An FTP server with one user profile for the client's login tests: PORT ROOT USER PASSWORD.
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

port, root, user, password = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
authorizer = DummyAuthorizer()
authorizer.add_user(user, password, root, perm="elradfmwMT")
handler = FTPHandler
handler.authorizer = authorizer
handler.auth_failed_timeout = 0  # the refusal comes at once: the test does not wait for it
server = FTPServer(("127.0.0.1", port), handler)
server.serve_forever()
