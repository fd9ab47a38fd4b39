# Runs the RFC 2217 server that ships with pyserial (python3-serial's examples) unchanged, with
# two things of the test machine made right around it:
# - it listens on 127.0.0.1 only (the example binds every interface);
# - a pseudo-terminal has no modem lines, so setting DTR/RTS and reading CTS/DSR/RI/CD there
#   reads as "all off" instead of ending the connection with ENOTTY.
# Usage: pyserialrfc2217.py PORT DEVICE
import errno
import runpy
import socket
import struct
import sys

import serial.serialposix as serialposix

SERVER = '/usr/share/doc/python3-serial/examples/rfc2217_server.py'

bind = socket.socket.bind
socket.socket.bind = lambda sock, address: bind(sock, ('127.0.0.1', address[1]))

ioctl = serialposix.fcntl.ioctl
MODEM_LINES = (serialposix.TIOCMBIS, serialposix.TIOCMBIC, serialposix.TIOCMGET)


def modem_lines_off(fd, request, *args):
    try:
        return ioctl(fd, request, *args)
    except OSError as e:
        if request in MODEM_LINES and e.errno in (errno.ENOTTY, errno.EINVAL):
            return struct.pack('I', 0)
        raise


serialposix.fcntl.ioctl = modem_lines_off
sys.argv = [SERVER, '-p', sys.argv[1], sys.argv[2]]
runpy.run_path(SERVER, run_name='__main__')
