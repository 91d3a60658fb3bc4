#!/usr/bin/env python3
"""The time of a step of one run across processes, from a model of its work and communication.

  bench/comm_model.py                               the cluster table of bench/README.md
  bench/comm_model.py --machine --fit 2048:2:169:single 2048:2:207 --measured 1024:2:37.0 ...
                                                    this machine's inputs against its measured steps
                                                    (GRID:PROCESSES:MS, ":single" before batching)
  bench/comm_model.py --bandwidth 25 --latency 1.5 --cores 64 --per-node 4 --grids 8192

Per step a process of N (P processes per node, sharing its `cores` cores) takes:
  compute      its nx ny / N points at core_ns core-nanoseconds each, over cores/P cores;
  transposes   each all-to-all of the step (one per batch of transforms: --case) sends its share
               of the batch's half spectra, 16 h nx (ny/2+1) (N-1)/N^2 bytes for a batch of h
               fields: to the P-1 other processes of its node at `shared` GB/s (MPI through the
               node's memory), to the N-P others over the node's link, which its P processes
               share; N-1 messages of `latency` each;
  copies       every all-to-all also passes the process's share of the batch through memory
               `copies` times, read and write (FFTW's local transposes before and after the
               exchange), at the node's memory bandwidth shared by its P processes; fitted once to
               a measured step of this machine (--fit);
  interleave   a batch of two fields passes its share through memory `interleave` times more,
               read and write: the copies into its interleaved buffer and out of it (2), and what
               FFTW's transforms of interleaved data cost beyond two transforms (fitted, --fit);
  halos, stop  two rows of ny doubles each way for ne, ni, pe and pi (4 x 2 messages), and the
               stop check's all-reduce (2 log2 N latencies);
  output       every `output_every` steps (0: not counted) an output: `output_ns` core-ns per point
               spread over the processes like the compute (the diagnostics, the formatting of the
               text files, the frame of the field history), and the writing of the text files
               (the four snapshots, TEXT_BYTES a point) by the writing process at `text_rate` GB/s;
with no overlap of communication and computation (the transposes cannot overlap the transforms
that need them). The efficiency is t(1 node) / (nodes t(nodes)). The batches per step (--case):
  warm     warm ions with a spectral dissipation (the default example): 3 batches of 2 fields;
  cold     cold ions with a spectral dissipation: 2 batches of 2 and 1 of 1;
  damped   warm ions, spectral dissipation and the edge damping (vorfree 2): 3 of 1 and 3 of 2.
--single counts every field as a batch of its own (the step before its transposes were batched).
The inputs of --machine are this machine's, measured (bench/README.md says how).
"""
import argparse
import math

TERMS = ["compute", "transposes", "copies", "interleave", "halos+stop", "output"]
CASES = {"warm": [2, 2, 2], "cold": [2, 2, 1], "damped": [1, 1, 1, 2, 2, 2]}
TEXT_BYTES = 98.0  # bytes of text per grid point and output: four snapshots of 24.4 each (2048^2)

# This machine (bench/README.md, 2026-12-11 13:50-14:15 UTC): 2 cores; bench/machine_rates.cpp
# (memory copy 25.9 GB/s per process with two copying, so 51.7 for the node; MPI between its two
# processes 8.1 GB/s and 0.15 us); the step of one process on one core (bench/scaling.sh, 1x1: 42.4
# ms at 1024^2, 212.5 ms at 2048^2, the core-ns per point of each grid); the output at 2048^2
# (bench/scaling.sh); `copies` is fitted by --fit to one measured step (--machine prints it).
MACHINE = {"cores": 2, "memory": 51.7, "shared": 8.1, "latency": 0.15, "bandwidth": 8.1,
           "output_ns": 614.0, "text_rate": 6.0}
MACHINE_CORE_NS = {1024: 40.4, 2048: 50.7}
COPIES, INTERLEAVE = 7.2, 4.9  # fitted: --machine --fit 2048:2:169:single 2048:2:207 (bench/README.md)


def batches(a):
    """The fields of each all-to-all of a step."""
    fields = CASES[a.case]
    return [1] * sum(fields) if a.single else fields


def step_time(n, nodes, per_node, a):
    """Seconds per step of an n x n grid on `nodes` nodes of `per_node` processes, by term."""
    procs = nodes * per_node
    points = float(n) * n
    half = 16.0 * n * (n // 2 + 1)  # bytes of one field's half spectrum
    memory = a.memory * 1e9 / per_node  # the memory bandwidth of one process
    link = a.bandwidth * 1e9 / per_node  # the network bandwidth of one process
    on_node = min(a.shared * 1e9, memory)  # MPI between processes of a node, through its memory
    t = {term: 0.0 for term in TERMS}
    t["compute"] = points / procs * a.core_ns * 1e-9 / (a.cores / per_node)
    if procs > 1:
        for h in batches(a):
            share = h * half / procs
            t["transposes"] += (share * (per_node - 1) / procs / on_node + share * (procs - per_node) / procs / link +
                                (procs - 1) * a.latency * 1e-6)
            t["copies"] += a.copies * 2.0 * share / memory
            if h > 1:  # the batch's passes through memory beyond those of its fields one by one
                t["interleave"] += a.interleave * 2.0 * share / memory
        t["halos+stop"] = 4 * 2 * 2 * 8.0 * n / link + (8 + 2 * math.log2(procs)) * a.latency * 1e-6
    if a.output_every > 0:
        output = (points / procs * a.output_ns * 1e-9 / (a.cores / per_node) +
                  points * TEXT_BYTES / (a.text_rate * 1e9))
        t["output"] = output / a.output_every
    return t


def sent_per_node(n, nodes, per_node, a):
    """MB a node sends over its link per step."""
    procs = nodes * per_node
    half = 16.0 * n * (n // 2 + 1)
    return sum(h * half / procs * (procs - per_node) / procs for h in batches(a)) * per_node / 1e6


def machine(a):
    """This machine's model against its measured steps: `copies` solved from the --fit step, then
    every --measured step beside the model's."""
    for key, value in MACHINE.items():
        setattr(a, key, value)
    def point(item):  # GRID:PROCESSES:MS[:single]
        fields = item.split(":")
        return int(fields[0]), int(fields[1]), float(fields[2]), fields[3:] == ["single"]
    def model(n, procs, single):  # the step's terms, without the output
        a.core_ns, a.single = MACHINE_CORE_NS[n], single
        t = step_time(n, 1, procs, a)
        del t["output"]
        return t
    # --fit: an unbatched step fixes `copies`, then a batched one `interleave` (both linear).
    for item in a.fit:
        n, procs, ms, single = point(item)
        name = "copies" if single else "interleave"
        setattr(a, name, 0.0)
        without = sum(model(n, procs, single).values())
        setattr(a, name, 1.0)
        per_pass = sum(model(n, procs, single).values()) - without
        setattr(a, name, (ms * 1e-3 - without) / per_pass)
    print(f"| model of this machine: {a.cores} cores, core-ns per point {MACHINE_CORE_NS}; memory {a.memory:g} GB/s, "
          f"MPI {a.shared:g} GB/s and {a.latency:g} us; {a.copies:.2f} passes per all-to-all, {a.interleave:.2f} more "
          f"per batch" + (f" (fitted to {' '.join(a.fit)})" if a.fit else ""))
    print("| grid   processes  batched  " + "  ".join(f"{t:>10}" for t in TERMS[:-1]) +
          "  model ms  measured ms  model/measured")
    for item in a.measured:
        n, procs, ms, single = point(item)
        t = model(n, procs, single)
        total = sum(t.values()) * 1e3
        print(f"| {n:5d}  {procs:9d}  {'no' if single else 'yes':>7}  " +
              "  ".join(f"{t[k] * 1e3:10.2f}" for k in TERMS[:-1]) + f"  {total:8.1f}  {ms:11.1f}  {total / ms:14.2f}")
    if a.output_every == 0:
        return
    print("| grid   processes  output s (model)")
    for procs in (1, 2, 4):
        a.core_ns = MACHINE_CORE_NS[2048]
        print(f"| {2048:5d}  {procs:9d}  {step_time(2048, 1, procs, a)['output'] * a.output_every:.3f}")


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--machine", action="store_true",
                   help="this machine's measured inputs, N processes on its one node (overrides the rates)")
    p.add_argument("--measured", nargs="+", default=[], metavar="GRID:PROCESSES:MS[:single]",
                   help="measured ms per step to set beside the model (with --machine; single: unbatched)")
    p.add_argument("--fit", nargs="+", default=[], metavar="GRID:PROCESSES:MS[:single]",
                   help="the measured steps to which --machine fits the passes: unbatched first, then batched")
    p.add_argument("--bandwidth", type=float, default=12.0, help="network GB/s per node and direction (default 12)")
    p.add_argument("--latency", type=float, default=2.0, help="microseconds per message (default 2)")
    p.add_argument("--memory", type=float, default=100.0, help="memory GB/s per node for the copies (default 100)")
    p.add_argument("--shared", type=float, default=10.0,
                   help="GB/s of MPI between two processes of a node (default 10)")
    p.add_argument("--cores", type=int, default=32, help="cores per node (default 32)")
    p.add_argument("--per-node", type=int, default=1, help="processes per node (default 1)")
    p.add_argument("--core-ns", type=float, default=MACHINE_CORE_NS[2048],
                   help="core-nanoseconds per point and step (default: this machine's at 2048^2)")
    p.add_argument("--copies", type=float, default=COPIES,
                   help="passes through memory of the share per all-to-all (default: fitted here)")
    p.add_argument("--interleave", type=float, default=INTERLEAVE,
                   help="further passes of a batch of two fields (default: fitted here)")
    p.add_argument("--output-ns", type=float, default=MACHINE["output_ns"],
                   help="core-ns per point of an output, spread over the processes (default: this machine's)")
    p.add_argument("--text-rate", type=float, default=MACHINE["text_rate"],
                   help="GB/s of text through the writing process (default: this machine's)")
    p.add_argument("--output-every", type=int, default=0, help="steps per output (default 0: outputs not counted)")
    p.add_argument("--case", choices=sorted(CASES), default="warm", help="the step's batches (default warm)")
    p.add_argument("--single", action="store_true", help="every field a batch of its own (before batching)")
    p.add_argument("--grids", type=int, nargs="+", default=[4096, 8192])
    p.add_argument("--nodes", type=int, nargs="+", default=[1, 4, 8, 16, 32, 64])
    a = p.parse_args()
    if a.machine:
        machine(a)
        return
    print(f"| model: {a.cores} cores per node at {a.core_ns:g} core-ns per point and step; case {a.case}"
          f"{' (unbatched)' if a.single else ''}, all-to-alls of {batches(a)} fields; network {a.bandwidth:g} GB/s, "
          f"{a.latency:g} us per message; memory {a.memory:g} GB/s, {a.copies:g} passes per all-to-all" +
          (f"; an output every {a.output_every} steps" if a.output_every else ""))
    header = "  ".join(f"{t:>10}" for t in TERMS)
    print(f"| grid   nodes  {header}  step ms  MB sent/node/step  efficiency  comm > compute")
    for n in a.grids:
        base = sum(step_time(n, 1, a.per_node, a).values())
        for nodes in a.nodes:
            if nodes * a.per_node > n // 2:
                continue
            t = step_time(n, nodes, a.per_node, a)
            total = sum(t.values())
            comm = t["transposes"] + t["copies"] + t["interleave"] + t["halos+stop"]
            print(f"| {n:5d}  {nodes:5d}  " + "  ".join(f"{t[k] * 1e3:10.2f}" for k in TERMS) +
                  f"  {total * 1e3:7.2f}  {sent_per_node(n, nodes, a.per_node, a):17.1f}  "
                  f"{base / (nodes * total):10.2f}  {'yes' if comm > t['compute'] else 'no'}")


if __name__ == "__main__":
    main()
