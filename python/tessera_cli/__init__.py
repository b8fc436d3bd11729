"""Command-line assessment of SQL estates with the agents.tessera modules."""

import sys


def main() -> None:
    try:
        from .main import main as run
    except ModuleNotFoundError as error:
        package = (error.name or "").partition(".")[0]
        if package not in ("click", "rich"):
            raise
        # The modules install without the command's libraries; say how to get them rather than
        # show an import traceback.
        print(
            f"tessera: the command needs the {package!r} package; install it with "
            "pip install 'tessera-native[cli]'",
            file=sys.stderr,
        )
        sys.exit(2)
    run()
