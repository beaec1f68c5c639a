"""Writes SIZE bytes of 128-byte lines to standard output as fast as the reader takes
them, then appends '<start> <end>' (seconds, wall clock) to the file REPORT. With a
third argument GO, waits until that file exists before writing.
Usage: flood_writer.py SIZE REPORT [GO]"""
import os
import sys
import time

size, report = int(sys.argv[1]), sys.argv[2]
if len(sys.argv) > 3:
    while not os.path.exists(sys.argv[3]):
        time.sleep(0.05)
line = b'%-127s\n' % b'[service] GET /api/library 200 - 0.412 ms - a line of log output of the library'
block = line * 512  # 64 KiB
start = time.time()
written = 0
while written < size:
    written += os.write(1, block[:min(len(block), size - written)])
end = time.time()
with open(report, 'a') as f:
    f.write(f'{start} {end}\n')
