#!/usr/bin/python3
"""Runs a command with a throwaway PostgreSQL cluster of its own, named in
WORMLOB_TEST_POSTGRES (a postgresql:// address):

    with_postgres.py COMMAND [ARGS...]
"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import server_test as st  # noqa: E402


def main():
    pg = st.Postgres()
    try:
        return subprocess.run(sys.argv[1:], env=dict(os.environ, WORMLOB_TEST_POSTGRES=pg.address)).returncode
    finally:
        pg.close()


if __name__ == "__main__":
    sys.exit(main())
