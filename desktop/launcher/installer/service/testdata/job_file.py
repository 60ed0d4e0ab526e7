#!/usr/bin/env python3
"""Prints a scheduler job file (the 1.0 scheduler's binary task format) as JSON: the fixed section's run limit,
status and flags, the variable section's texts and the triggers. Usage: job_file.py FILE.job"""
import json
import struct
import sys


def parse(data):
    app_offset, trigger_offset = struct.unpack_from('<HH', data, 20)
    max_run_time, exit_code, status, flags = struct.unpack_from('<4I', data, 36)
    job = {'max_run_time': max_run_time, 'status': status, 'flags': flags}
    pos = app_offset
    for field in ('application', 'parameters', 'working_directory', 'author', 'comment'):
        (count,) = struct.unpack_from('<H', data, pos)
        job[field] = data[pos + 2:pos + 2 + 2 * count].decode('utf-16-le').rstrip('\0')
        pos += 2 + 2 * count
    (count,) = struct.unpack_from('<H', data, trigger_offset)
    pos = trigger_offset + 2
    job['triggers'] = []
    for _ in range(count):
        # size, reserved, begin y/m/d, end y/m/d, start h/m, duration, interval, flags, type, first union word
        fields = struct.unpack_from('<10H4IH', data, pos)
        job['triggers'].append({'begin': list(fields[2:5]), 'start': list(fields[8:10]), 'type': fields[13],
                                'days_interval': fields[14]})
        pos += fields[0]
    return job


if __name__ == '__main__':
    with open(sys.argv[1], 'rb') as f:
        print(json.dumps(parse(f.read())))
