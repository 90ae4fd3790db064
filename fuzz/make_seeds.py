#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets that take frames. Run from anywhere; the seeds are
checked in, so this is needed only to change them."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
CLIENT_MAC = bytes.fromhex("020000000001")
SERVER_MAC = bytes.fromhex("020000000002")
CLIENT_IP = bytes([10, 0, 0, 1])
SERVER_IP = bytes([10, 0, 0, 2])
SYN, ACK, PSH, FIN, RST = 0x02, 0x10, 0x08, 0x01, 0x04


def checksum(data, initial=0):
    if len(data) % 2:
        data += b"\0"
    total = initial + sum(struct.unpack("!%dH" % (len(data) // 2), data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


def ip_header(protocol, payload_length, source, destination, options=b"", fragment=0):
    ihl = (20 + len(options)) // 4
    header = struct.pack("!BBHHHBBH4s4s", 0x40 | ihl, 0, 20 + len(options) + payload_length, 1, fragment, 64,
                         protocol, 0, source, destination) + options
    return header[:10] + struct.pack("!H", checksum(header)) + header[12:]


def tcp_frame(outbound, sport, dport, seq, ack, flags, payload=b"", window=65535, options=b""):
    source, destination = (CLIENT_IP, SERVER_IP) if outbound else (SERVER_IP, CLIENT_IP)
    macs = SERVER_MAC + CLIENT_MAC if outbound else CLIENT_MAC + SERVER_MAC
    offset = (20 + len(options)) // 4
    tcp = struct.pack("!HHIIBBHHH", sport, dport, seq, ack, offset << 4, flags, window, 0, 0) + options + payload
    pseudo = source + destination + struct.pack("!BBH", 0, 6, len(tcp))
    tcp = tcp[:16] + struct.pack("!H", checksum(pseudo + tcp)) + tcp[18:]
    return macs + b"\x08\x00" + ip_header(6, len(tcp), source, destination) + tcp


def udp_frame(sport, dport, payload):
    udp = struct.pack("!HHHH", sport, dport, 8 + len(payload), 0) + payload
    return CLIENT_MAC + SERVER_MAC + b"\x08\x00" + ip_header(17, len(udp), SERVER_IP, CLIENT_IP) + udp


CLIENT_IP6 = bytes.fromhex("fd000000000000000000000000000001")
SERVER_IP6 = bytes.fromhex("fd000000000000000000000000000002")
HOP_BY_HOP, ROUTING, FRAGMENT, DESTINATION_OPTIONS = 0, 43, 44, 60


def ipv6_options_header(length=8):
    """A hop-by-hop or destination-options header's bytes after its next-header byte, padded (PadN)."""
    return bytes([length // 8 - 1, 1, length - 4]) + bytes(length - 4)


def ipv6_frame(outbound, protocol, upper, extensions=(), payload_length=None):
    """extensions: (type, bytes after the next-header byte) in order; payload_length overrides."""
    source, destination = (CLIENT_IP6, SERVER_IP6) if outbound else (SERVER_IP6, CLIENT_IP6)
    macs = SERVER_MAC + CLIENT_MAC if outbound else CLIENT_MAC + SERVER_MAC
    types = [kind for kind, _ in extensions] + [protocol]
    chain = b"".join(bytes([types[i + 1]]) + body for i, (_, body) in enumerate(extensions))
    length = len(chain) + len(upper) if payload_length is None else payload_length
    header = struct.pack("!IHBB", 0x60000000, length, types[0], 64) + source + destination
    return macs + b"\x86\xdd" + header + chain + upper


def tcp6_segment(outbound, sport, dport, seq, ack, flags, payload=b"", window=65535, options=b""):
    source, destination = (CLIENT_IP6, SERVER_IP6) if outbound else (SERVER_IP6, CLIENT_IP6)
    offset = (20 + len(options)) // 4
    tcp = struct.pack("!HHIIBBHHH", sport, dport, seq, ack, offset << 4, flags, window, 0, 0) + options + payload
    pseudo = source + destination + struct.pack("!IxxxB", len(tcp), 6)
    return tcp[:16] + struct.pack("!H", checksum(pseudo + tcp)) + tcp[18:]


def write(folder, name, data):
    path = os.path.join(HERE, folder, "seeds")
    os.makedirs(path, exist_ok=True)
    with open(os.path.join(path, name), "wb") as out:
        out.write(data)


def frame_seeds():
    write("frame", "syn-ack-from-pop3.bin", tcp_frame(False, 110, 40000, 1000, 5001, SYN | ACK))
    write("frame", "retr-command.bin", tcp_frame(True, 40000, 110, 5001, 1100, PSH | ACK, b"RETR 1\r\n"))
    write("frame", "reply-end.bin", tcp_frame(False, 110, 40000, 1100, 5009, PSH | ACK,
                                              b"+OK 12 octets\r\nSubject: hi\r\n\r\nbody\r\n.\r\n"))
    write("frame", "tcp-options.bin", tcp_frame(True, 40000, 110, 1, 0, SYN, options=b"\x02\x04\x05\xb4\x04\x02\x08\x0a"
                                                 b"\x00\x00\x00\x01\x00\x00\x00\x00\x01\x03\x03\x07"))
    write("frame", "messenger-datagram.bin", udp_frame(4000, 135, b"popup text"))
    arp = SERVER_MAC + CLIENT_MAC + b"\x08\x06" + bytes(28)
    write("frame", "arp.bin", arp)
    later = CLIENT_MAC + SERVER_MAC + b"\x08\x00" + ip_header(6, 8, SERVER_IP, CLIENT_IP, fragment=0x0001) + bytes(8)
    write("frame", "later-fragment.bin", later)
    options = CLIENT_MAC + SERVER_MAC + b"\x08\x00" + ip_header(1, 4, SERVER_IP, CLIENT_IP, options=b"\x01\x01\x01\x00") + bytes(4)
    write("frame", "ip-options-icmp.bin", options)
    short = bytearray(tcp_frame(False, 110, 40000, 1, 1, ACK, b"xy"))
    short[14 + 2:14 + 4] = struct.pack("!H", 200)  # total length beyond the frame
    write("frame", "total-length-too-long.bin", bytes(short))

    retr6 = tcp6_segment(True, 40000, 110, 5001, 1100, PSH | ACK, b"RETR 1\r\n")
    write("frame", "ipv6-retr-command.bin", ipv6_frame(True, 6, retr6))
    reply6 = tcp6_segment(False, 110, 40000, 1100, 5009, PSH | ACK, b"+OK\r\nbody\r\n.\r\n",
                          options=b"\x01\x01\x08\x0a\x00\x00\x00\x05\x00\x00\x00\x07")
    routing_done = bytes([2, 2, 0]) + bytes(21)  # type 2, one address, no segments left
    write("frame", "ipv6-extension-chain.bin", ipv6_frame(False, 6, reply6, [
        (HOP_BY_HOP, ipv6_options_header()), (ROUTING, routing_done), (DESTINATION_OPTIONS, ipv6_options_header(16))]))
    write("frame", "ipv6-fragment.bin", ipv6_frame(False, 6, reply6, [(FRAGMENT, bytes(7))]))
    write("frame", "ipv6-routing-segments-left.bin", ipv6_frame(True, 6, retr6, [(ROUTING, bytes([2, 2, 1]) + bytes(21))]))
    runaway = bytes([200]) + bytes(6)  # claims 1608 bytes
    write("frame", "ipv6-chain-out-of-bounds.bin", ipv6_frame(True, 6, retr6, [(DESTINATION_OPTIONS, runaway)]))
    write("frame", "ipv6-payload-length-too-long.bin", ipv6_frame(True, 6, retr6, payload_length=600))
    udp6 = struct.pack("!HHHH", 4000, 135, 18, 0) + b"popup text"
    write("frame", "ipv6-messenger-datagram.bin", ipv6_frame(False, 17, udp6, [(DESTINATION_OPTIONS, ipv6_options_header())]))


class Script:
    """Assembles packet-loop scripts; the grammar is described in packet_loop/Pop3Script.cpp."""

    def __init__(self, options=0):
        self.data = bytearray([options])

    def op(self, kind, argument):
        self.data.append(kind | argument << 3)
        return self

    def batch(self, minutes=0, milliseconds=0):
        self.op(0, minutes).data += struct.pack("!H", milliseconds)
        return self

    def handshake(self, connection, extras=0, client_isn=1000, server_isn=900000):
        self.op(1, connection | extras).data += struct.pack("!II", client_isn, server_isn)
        return self

    def segment(self, connection, from_client, payload, flags=PSH | ACK, mode=0, operands=b""):
        self.op(2 if from_client else 3, connection).data += bytes([flags, mode]) + struct.pack("!H", len(payload))
        self.data += payload + operands
        return self

    def retr(self, connection, number):
        self.op(4, connection).data.append(number)
        return self

    def reply(self, connection, body, segment_byte=40):
        self.op(5, connection).data += struct.pack("!H", len(body)) + body + bytes([segment_byte])
        return self

    def ipv6(self, connection):
        """The connection talks IPv6 from its next handshake on."""
        return self.op(6, 2 | connection << 2)

    def raw(self, inbound, frame):
        self.op(6, 1 if inbound else 0).data += struct.pack("!H", len(frame)) + frame
        return self

    def ack(self, connection, server=False, fin=False, rst=False):
        return self.op(7, connection | (4 if server else 0) | (8 if fin else 0) | (16 if rst else 0))

    def login(self, connection):
        self.segment(connection, False, b"+OK POP3 ready\r\n").batch()
        self.segment(connection, True, b"USER someone\r\n").batch()
        self.segment(connection, False, b"+OK\r\n").batch()
        self.segment(connection, True, b"PASS secret\r\n").batch()
        return self.segment(connection, False, b"+OK logged in\r\n").batch()

    def close(self, connection):
        self.segment(connection, True, b"QUIT\r\n").batch()
        self.segment(connection, False, b"+OK bye\r\n").ack(connection, server=True, fin=True).batch()
        return self.ack(connection).ack(connection, fin=True).batch().ack(connection, server=True).batch(3)


GOOD = b"From: alice@example.org\r\nTo: bob@example.net\r\nSubject: lunch\r\n\r\nSee you at noon.\r\n"
SPAM = (b"From: offers@spam.example\r\nTo: bob@example.net\r\nSubject: win\r\nX-Spam: yes\r\n\r\n"
        b"Cheap pills, click now\r\n")
ATTACHMENT = (b"From: alice@example.org\r\nTo: bob@example.net\r\nSubject: file\r\nMIME-Version: 1.0\r\n"
              b"Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\nhi\r\n"
              b"--b\r\nContent-Type: application/octet-stream; name=\"setup.exe\"\r\n"
              b"Content-Disposition: attachment; filename=\"setup.exe\"\r\n\r\nTVqQAAMAAAAEAAAA\r\n--b--\r\n")


def packet_loop_seeds():
    good = Script().handshake(0).batch().login(0).retr(0, 1).batch().reply(0, GOOD).batch()
    good.ack(0).batch(0, 400).ack(0).batch().close(0)
    write("packet_loop", "good-message-replayed.bin", bytes(good.data))

    spam = Script().handshake(1, extras=8).batch().login(1).retr(1, 2).batch().reply(1, SPAM, 3).batch()
    spam.segment(1, False, b"+OK message deleted\r\n").batch().ack(1).batch(0, 400).ack(1).batch().close(1)
    write("packet_loop", "spam-deleted-and-quarantined.bin", bytes(spam.data))

    no_copy = Script(options=128).handshake(2, extras=4 | 16).batch().login(2).retr(2, 7).batch().reply(2, SPAM)
    no_copy.batch().segment(2, False, b"+OK\r\n").batch().ack(2).batch(1, 9000).segment(2, True, b"STAT\r\n")
    write("packet_loop", "spam-without-quarantine-folder.bin", bytes(no_copy.data))

    rename = Script(options=16 | 32).handshake(0).batch().login(0).retr(0, 3).batch().reply(0, ATTACHMENT, 20)
    rename.batch().ack(0).batch(0, 350).ack(0).batch().close(0)
    write("packet_loop", "attachment-renamed-with-log.bin", bytes(rename.data))

    shared = Script().handshake(0).handshake(2).batch().login(0).login(2).retr(0, 1).retr(2, 1).batch()
    shared.reply(2, SPAM).reply(0, GOOD).batch().raw(True, udp_frame(4000, 135, b"popup"))
    shared.raw(False, tcp_frame(True, 40001, 25, 1, 1, PSH | ACK, b"MAIL FROM:<a@b>\r\n"))
    shared.raw(True, bytes(60)).ack(0).ack(2).batch(0, 500).ack(0).ack(2).batch().close(0).close(2)
    write("packet_loop", "two-servers-one-port-and-other-traffic.bin", bytes(shared.data))

    paused = Script(options=64 | 4).handshake(3).batch().login(3).retr(3, 1).batch().reply(3, SPAM).batch().close(3)
    write("packet_loop", "pause-key-held-and-outbound-lock.bin", bytes(paused.data))

    off = Script(options=1 | 2).handshake(1).batch().login(1).retr(1, 1).batch().reply(1, SPAM).batch()
    off.raw(True, udp_frame(53, 1026, b"dns reply to a messenger port"))
    write("packet_loop", "filtering-off.bin", bytes(off.data))

    big = Script().handshake(0).batch().login(0).retr(0, 4).batch()
    big.segment(0, False, b"+OK 20000 octets\r\n")
    for _ in range(13):
        big.segment(0, False, b"x" * 1458 + b"\r\n")
    big.segment(0, False, b".\r\n").batch().ack(0).batch(0, 300).ack(0).batch(0, 300).ack(0).batch().close(0)
    write("packet_loop", "message-over-the-cap.bin", bytes(big.data))

    lossy = Script().handshake(1).batch().login(1).retr(1, 5).batch()
    lossy.segment(1, False, b"+OK\r\nFrom: a@b\r\n", mode=1, operands=b"\x20")  # ahead of the expected byte
    lossy.segment(1, False, b"+OK\r\nFrom: a@b\r\n").segment(1, False, b"+OK\r\nFrom: a@b\r\n", mode=2)
    lossy.segment(1, False, b"Subject: x\r\n\r\nbody\r\n.\r\n").batch()
    lossy.ack(1).segment(1, True, b"RETR 5\r\n", mode=2).batch(0, 2000).ack(1).ack(1, rst=True).batch(4)
    write("packet_loop", "reordered-repeated-and-reset.bin", bytes(lossy.data))

    good6 = Script().ipv6(0).ipv6(2).handshake(0, extras=8).handshake(2).batch().login(0).login(2)
    good6.retr(0, 1).retr(2, 2).batch().reply(0, GOOD).reply(2, SPAM, 3).batch()
    good6.segment(2, False, b"+OK message deleted\r\n").batch().ack(0).ack(2).batch(0, 400).ack(0).ack(2).batch()
    good6.raw(True, ipv6_frame(False, 6, tcp6_segment(False, 110, 40000, 1, 1, ACK), [(FRAGMENT, bytes(7))]))
    good6.close(0).close(2)
    write("packet_loop", "ipv6-good-and-spam.bin", bytes(good6.data))

    short_commands = Script().handshake(0).batch().login(0).segment(0, True, b"RETR\r\n").batch()
    short_commands.segment(0, False, b"-ERR\r\n").batch().segment(0, True, b"retr 1\r\n").batch()
    short_commands.segment(0, True, b"RETR 123456789\r\n").batch().segment(0, False, b"-ERR no such message\r\n")
    short_commands.retr(0, 9).batch().segment(0, False, b"-ERR no such message\r\n").batch(0, 500).ack(0, rst=True)
    write("packet_loop", "odd-retrievals.bin", bytes(short_commands.data))


if __name__ == "__main__":
    frame_seeds()
    packet_loop_seeds()
