"""Fixtures: the native build's library and simulated devices, each stopped by its process id."""

import os
import subprocess
import sys

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", "..", ".."))
BUILD = os.environ.get("ORMI_BUILD_DIR", os.path.join(ROOT, "build", "native"))
LIBRARY = os.path.join(BUILD, "libormi_control.so")
SIM = os.path.join(BUILD, "ormi-sim")

# The package from its sources unless an installed one is asked for; child
# processes of the tests start with the same path.
SOURCES = None if os.environ.get("ORMI_TEST_INSTALLED") else os.path.join(HERE, "..", "src")
if SOURCES:
    sys.path.insert(0, SOURCES)


class Sim:
    """One ormi-sim process on a free loopback port."""

    def __init__(self, *arguments: str) -> None:
        self.process = subprocess.Popen([SIM, "--port", "0", *arguments], stdout=subprocess.PIPE, text=True)
        line = self.process.stdout.readline()
        if not line.startswith("listening on "):
            self.stop()
            raise RuntimeError("ormi-sim did not start: %r" % line)
        self.port = int(line.rsplit(":", 1)[1])

    def stop(self) -> None:
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stdout.close()


@pytest.fixture(scope="session", autouse=True)
def built():
    if not (os.path.isfile(LIBRARY) and os.access(SIM, os.X_OK)):
        pytest.exit("build the native preset first (%s, %s)" % (LIBRARY, SIM), returncode=2)


@pytest.fixture
def start_sim():
    """Starts simulated devices with the given options; all stopped at the end."""
    started = []

    def start(*arguments: str) -> Sim:
        sim = Sim(*arguments)
        started.append(sim)
        return sim

    yield start
    for sim in started:
        sim.stop()


@pytest.fixture
def sim(start_sim):
    return start_sim("--password", "secret")


@pytest.fixture
def device(sim):
    import ormi_control

    with ormi_control.Device("127.0.0.1", sim.port, password="secret", library=LIBRARY) as device:
        yield device


@pytest.fixture
def free_port():
    """A loopback port on which nothing listens."""
    import socket

    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]
