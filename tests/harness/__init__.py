"""Test harness for running the launchers under Wine; see tests/README.md."""

from .packer import PackError, inspect, pack
from .paths import DIST, PACKER_JAR, ROOT, launcher_path, tool_path, winpath
from .pe import PeInfo, assert_pe, read_pe
from .registry import RegValue, Registry
from .runner import TIMED_OUT, Box, HarnessError, Result, Running, build_cmdline, quote_arg
from .wine import WineError, WineSession
