"""python3 -m tavo.scans: the command tavo-scan (see tavo.scans.command)."""
from .command import main

main()
