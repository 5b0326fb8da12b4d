#!/usr/bin/env python3
# One line per drill run from run.sh's printed output (saved to a file): the passes heard,
# how many pauses came within 10 ms of due and how far the others were off, the load, the
# holds' UI timers and mpv's underruns; then every row that is not a clean pass.
#   bench/drill/summary.py RUN.out...
import re,sys,glob
for f in sys.argv[1:]:
    t=open(f).read()
    m=re.search(r'(\d+) passes heard',t); n=m.group(1) if m else '?'
    within=total=0; devs=[]; other=[]
    for line in t.splitlines():
        c=[x.strip() for x in line.split('|')]
        if len(c)<6 or not c[1].isdigit(): continue
        mm=re.match(r'(\d+) \((\d+)\)',c[4])
        if not mm: other.append(line); continue
        got,due=int(mm.group(1)),int(mm.group(2))
        if due==0: continue
        total+=1; d=got-due; devs.append(d)
        if abs(d)<=10: within+=1
        if c[2]!='a' : other.append(line)
    la=re.search(r'Load average \(1 min\) (\S+) at the start, (\S+)',t)
    h=re.search(r'Holds whose UI timer came within 10 ms: (\d+), later: (\d+); mpv output underruns: (\d+)',t)
    print(f"{f}: passes {n}, pauses within 10 ms {within}/{total}, off by {min(devs) if devs else '-'}..{max(devs) if devs else '-'} ms, load {la.group(1)}-{la.group(2) if la else ''}, UI timers on time/late {h.group(1)}/{h.group(2)}, underruns {h.group(3)}" if h and la else f"{f}: incomplete")
    for o in other: print("   ", o)
