"""The subcommands of `rillwright`, one module each. Every module has `register(commands)`,
which adds its parser to the argparse subparsers and sets `handler` to the function
that runs it, returning the exit status."""

from . import batch, check, convert, demo, design, inlets, report, run, service

# In the order `rillwright --help` lists them.
ALL = (demo, run, check, design, inlets, convert, batch, service, report)
