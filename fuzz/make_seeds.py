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


if __name__ == "__main__":
    frame_seeds()
