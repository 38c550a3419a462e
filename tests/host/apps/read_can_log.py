"""Reads a candump log with python-can and prints one line per frame:
seconds channel id(hex) extended dlc data(hex)."""
import sys

import can

for msg in can.CanutilsLogReader(sys.argv[1]):
    print(f"{msg.timestamp:.6f} {msg.channel} {msg.arbitration_id:X} "
          f"{int(msg.is_extended_id)} {msg.dlc} {msg.data.hex().upper()}")
