#!/usr/bin/env python3
"""The parallel efficiency of one run across nodes, from a model of its communication.

  bench/comm_model.py                         the table of bench/README.md (its inputs below)
  bench/comm_model.py --bandwidth 25 --latency 1.5 --cores 64 --core-ns 20 --grids 4096 8192

Per time step a process of N (one per node, `cores` threads) computes its nx ny / N points at
`core_ns` core-nanoseconds each (measured here: the step of one process at 1024 x 1024, 2 threads,
times its 2 cores, per point), and communicates:
  - transposes: every two-dimensional transform (T per step: the warm-ion step with a spectral
    dissipation runs 2 forward and 4 backward, 6; the cold-ion one 5) moves the process's share of
    the half spectrum, nx (ny/2+1) complex values of 16 bytes over N processes, to the others:
    16 nx (ny/2+1) (N-1)/N^2 bytes sent per process in N-1 messages;
  - halos: two rows of ny doubles to each neighbour for ne, ni, pe and pi: 4 * 2 * 2 * 8 ny bytes
    in 16 messages (negligible beside the transposes);
  - the stop check: one 4-byte all-reduce, about 2 log2(N) latencies.
Time per step t = t_compute + t_comm with t_comm = bytes / bandwidth + messages * latency (no
overlap of communication and computation assumed; the transposes cannot overlap the transforms
that need them); the efficiency is t(1 node) / (N t(N)). Communication "dominates" where t_comm
exceeds t_compute.
"""
import argparse
import math


def step_time(n, nodes, transforms, cores, core_ns, bandwidth, latency):
    """(compute, communication) seconds per step of an n x n grid on `nodes` processes."""
    points = n * n
    compute = points / nodes * core_ns * 1e-9 / cores
    if nodes == 1:
        return compute, 0.0
    share = 16.0 * n * (n // 2 + 1) * (nodes - 1) / nodes**2
    halo = 4 * 2 * 2 * 8.0 * n
    messages = transforms * (nodes - 1) + 16 + 2 * math.log2(nodes)
    comm = (transforms * share + halo) / (bandwidth * 1e9) + messages * latency * 1e-6
    return compute, comm


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--bandwidth", type=float, default=12.0, help="GB/s per node and direction (default 12: 100 Gb/s)")
    p.add_argument("--latency", type=float, default=2.0, help="microseconds per message (default 2)")
    p.add_argument("--cores", type=int, default=32, help="cores (threads) per node (default 32)")
    p.add_argument("--core-ns", type=float, default=40.0,
                   help="core-nanoseconds per point and step (default 40, measured on this machine)")
    p.add_argument("--transforms", type=int, default=6, help="2-D transforms per step (default 6)")
    p.add_argument("--grids", type=int, nargs="+", default=[4096, 8192])
    p.add_argument("--nodes", type=int, nargs="+", default=[1, 4, 8, 16, 32, 64])
    a = p.parse_args()
    print(f"| model: {a.cores} cores per node at {a.core_ns:g} core-ns per point and step, {a.transforms} transforms "
          f"per step, {a.bandwidth:g} GB/s and {a.latency:g} us per message")
    print("| grid   nodes  compute ms  comm ms  step ms  MB sent/node/step  efficiency  comm > compute")
    for n in a.grids:
        t1 = sum(step_time(n, 1, a.transforms, a.cores, a.core_ns, a.bandwidth, a.latency))
        for nodes in a.nodes:
            if nodes > n // 2:
                continue
            compute, comm = step_time(n, nodes, a.transforms, a.cores, a.core_ns, a.bandwidth, a.latency)
            sent = (a.transforms * 16.0 * n * (n // 2 + 1) * (nodes - 1) / nodes**2 + 4 * 2 * 2 * 8.0 * n) / 1e6
            eff = t1 / (nodes * (compute + comm))
            print(f"| {n:5d}  {nodes:5d}  {compute * 1e3:10.2f}  {comm * 1e3:7.2f}  {(compute + comm) * 1e3:7.2f}  "
                  f"{sent if nodes > 1 else 0:17.1f}  {eff:10.2f}  {'yes' if comm > compute else 'no'}")


if __name__ == "__main__":
    main()
