#!/usr/bin/env python3
"""Scores the readers on one case of the degraded corpus against its truth.

usage: score.py TRUTH.csv OURS.csv OURS.json LIBLTC.csv

Prints one line of numbers: our right and wrong labels, libltc's right
(in runs of two or more right frames) and wrong labels, our events, our
false events and our unreadable stretches, and our exit status.

A row is right when a frame of the truth starts within half a frame of it
(after the case's delay, the median offset of the rows whose label the
truth has, which a codec adds) and carries its label, drop-frame flag, user
bits and (for our rows; libltc's name none) group flags, 000 throughout; a
row without such a frame is wrong. Half a frame is that of the longest of
the frame and its neighbours: where the tape turns, the truth holds a
sliver of a frame, or a frame played back and forth as one (a row within
it, where it turned, is its). A row that matches a frame the truth does
not hold whole is neither right nor wrong. A false event is a jump,
repeat, direction, rate, drop_frame or user_bits event with no true change
within a frame of it.
"""
import bisect
import csv
import json
import statistics
import sys

CHANGE_EVENTS = {"jump", "repeat", "direction", "rate", "drop_frame", "user_bits"}


def read_truth(path):
    frames, changes = [], []
    with open(path) as f:
        for line in f:
            if line.startswith("start,"):
                continue
            if line.startswith("changes"):
                changes = [int(v) for v in line.strip().split(",")[1:] if v]
                continue
            start, end, label, drop, bits, forward, whole = line.strip().split(",")
            frames.append((int(start), int(end), label, int(drop), bits.upper(), forward == "1", whole == "1"))
    frames.sort()
    return frames, changes


def read_rows(path, sample="sample"):
    """Rows as (sample, label, drop-frame flag, user bits); a row whose group
    flags are not the truth's (000 throughout the corpus) carries user bits
    that cannot match."""
    rows = []
    try:
        with open(path) as f:
            for r in csv.DictReader(f):
                bits = r["user_bits"].upper()
                if r.get("binary_group_flags", "000") != "000":
                    bits += "/flags " + r["binary_group_flags"]
                rows.append((int(r[sample]), r["label"], int(r["drop_frame"]), bits))
    except FileNotFoundError:
        pass
    return rows


def delay(frames, rows):
    by_label = {}
    for f in frames:
        by_label.setdefault((f[2], f[4]), []).append(f[0])
    offsets = []
    for sample, label, _, bits in rows:
        starts = by_label.get((label, bits))
        if starts:
            offsets.append(min((sample - s for s in starts), key=abs))
    return statistics.median(offsets) if offsets else 0


def score(frames, rows):
    """Right rows (as truth indices) and the number of wrong rows."""
    starts = [f[0] for f in frames]
    d = delay(frames, rows)

    def reach(j):  # half a frame: the longest of it and its neighbours
        return max(frames[k][1] - frames[k][0] for k in (j - 1, j, j + 1) if 0 <= k < len(frames)) / 2

    right, wrong = [], 0
    for sample, label, drop, bits in rows:
        at = sample - d
        i = bisect.bisect_left(starts, at)
        near = [j for j in range(i - 2, i + 2)
                if 0 <= j < len(frames) and (abs(frames[j][0] - at) <= reach(j) or frames[j][0] <= at < frames[j][1] - 8)]
        same = [j for j in near if frames[j][2:5] == (label, drop, bits)]
        if same:
            best = min(same, key=lambda j: abs(frames[j][0] - at))
            if frames[best][6]:
                right.append(best)
        else:
            wrong += 1
    return right, wrong


def in_runs(right, frames):
    """Right frames that stand in runs of two or more neighbouring whole frames."""
    seen = set(right)
    def whole_neighbour(i, step):
        j = i + step
        while 0 <= j < len(frames) and not frames[j][6]:
            j += step
        return j in seen
    return sum(1 for i in seen if whole_neighbour(i, -1) or whole_neighbour(i, 1))


def main():
    truth, ours_csv, ours_json, theirs_csv = sys.argv[1:5]
    frames, changes = read_truth(truth)
    whole = [f for f in frames if f[6]]
    ours = read_rows(ours_csv)
    theirs = read_rows(theirs_csv)
    our_right, our_wrong = score(frames, ours)
    their_right, their_wrong = score(frames, theirs)
    events = false_events = unreadable = 0
    status = -1
    try:
        report = json.load(open(ours_json))
        status = report["status"]
        starts = [f[0] for f in frames]

        def length_at(sample):  # the frame length where the change is
            i = min(max(bisect.bisect_left(starts, sample), 1), len(frames) - 1)
            return max(frames[i][1] - frames[i][0], frames[i - 1][1] - frames[i - 1][0])

        for channel in report["channels"]:
            for e in channel.get("events", []):
                events += 1
                if e["type"] == "unreadable":
                    unreadable += 1
                if e["type"] in CHANGE_EVENTS and not any(abs(e["sample"] - c) <= 1.5 * length_at(c) for c in changes):
                    false_events += 1
    except (FileNotFoundError, json.JSONDecodeError, KeyError):
        pass
    print(len(whole), len(set(our_right)), our_wrong, in_runs(their_right, frames), their_wrong, events, false_events,
          unreadable, status)


if __name__ == "__main__":
    main()
