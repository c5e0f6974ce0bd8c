"""The launcher in real installs: a folder it may not write, a client still running, closing while
a tool unpacks, a version file it cannot replace."""
import subprocess
from pathlib import Path

import pytest

from conftest import STANDIN, wait_until, wine

UPDATE = {"launcher_config.ini": "[Launcher]\r\nVersionURL={url}/v.txt\r\nUpdateURL={url}/u.zip\r\n",
          "version.txt": "1.0.0", "tar.exe.action": "unzip"}
CLIENT = {"velmoraclient.exe": STANDIN}
DENIED = "Sem permissão para gravar na pasta do jogo."


@pytest.fixture
def immutable():
    """chattr +i on paths (even root cannot write there then), undone at the end."""
    paths = []

    def make(path):
        subprocess.run(["chattr", "+i", path], check=True)
        paths.append(path)
    yield make
    for path in paths:
        subprocess.run(["chattr", "-i", path], check=True)


def running(name, folder):
    """Linux processes named `name` (Wine names a process after its exe, cut to 15 characters) that
    were started in `folder`: other tests run theirs meanwhile."""
    found = []
    for status in Path("/proc").glob("[0-9]*/status"):
        try:
            if status.read_text().startswith("Name:\t%s\n" % name[:15]) and (status.parent / "cwd").resolve() == folder:
                found.append(status)
        except OSError:  # it has ended meanwhile
            pass
    return found


def processes(env):
    """(name, parent's process id, process id) of every Windows process of the prefix."""
    listed = wine(env, "wmic", "process", "get", "Name,ParentProcessId,ProcessId").stdout.decode("utf-16")
    rows = [line.rsplit(None, 2) for line in listed.splitlines()[1:] if line.strip()]
    return {int(row[-1]): (row[0] if len(row) == 3 else "", int(row[-2])) for row in rows}  # a name may be blank


@pytest.mark.parametrize("answer", ["no", "yes"])
def test_unwritable_folder(install, httpserver, immutable, answer):
    """The player is asked before anything is fetched; Yes restarts the launcher elevated (under
    Wine every process is), and the restarted copy does not ask again. The player's launcher keeps
    the folder, unseen, a third start leaves, and Play in the copy has the player's launcher start
    the game."""
    client = {"bin/velmoraclient.exe": STANDIN, "bin/velmoraclient.exe.action": "hold 10" if answer == "yes" else ""}
    inst = install(dict(UPDATE, **client), start=False)
    immutable(inst.dir)
    inst.start()
    box, = inst.probe("wait-window", 20000, "msgbox", 20000, answer)
    assert box == {"box_caption": "Permissão necessária", "box_icon": "warning", "box_owner_is_launcher": True,
                   "box_text": "O launcher precisa de permissão de administrador para atualizar o jogo nesta pasta."
                               "\n\nReiniciar como administrador?"}
    state, shown = inst.probe("wait-window", 20000, "wait-status", 20000, DENIED, "wait-enabled", 5000, "no-msgbox",
                              1500, "dump", "pid")
    assert state["play_enabled"] and httpserver.log == []
    if answer == "yes":
        third = subprocess.run(["wine", inst.dir / "VelmoraLauncher.exe"], cwd=inst.dir, env=inst.env, timeout=30,
                               stdin=subprocess.DEVNULL, capture_output=True)
        running_now = processes(inst.env)
        player = running_now[shown["pid"]][1]
        assert (third.returncode, inst.proc.poll(), running_now[player][0]) == (0, None, "VelmoraLauncher.exe")
        assert len(running("VelmoraLauncher.exe", inst.dir)) == 2
        # Another program naming the copy's window is not the copy: it lacks the secret the copy was started with.
        assert inst.probe("forge", "velmoraclient.exe") == [{"accepted": False}]
    inst.probe("click")
    inst.client_started()
    if answer == "yes":
        parents = [parent for name, parent in processes(inst.env).values() if name == "velmoraclient.exe"]
        assert player in parents and shown["pid"] not in parents


def test_running_client_is_waited_for_then_closing_ends_the_tool(install, serve):
    """No tool runs while the client holds its exe; once it has ended the unpacking starts, and
    closing the launcher then ends the tool, which hangs part-way: bin stays as it was, and the next
    start, with the real tar, updates."""
    serve({"/v.txt": "1.0.1", "/u.zip": dict(CLIENT, **{"data/new.txt": b"new"})})
    inst = install(dict(UPDATE, **{"bin/velmoraclient.exe": STANDIN, "tar.exe.action": "unzip hang"}), start=False)
    client = subprocess.Popen(["wine", inst.dir / "bin/velmoraclient.exe", "hold", "600"], cwd=inst.dir / "bin",
                              env=inst.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    wait_until(lambda: (inst.dir / "bin/standin.log").exists(), 10)
    inst.start()
    waiting, = inst.probe("wait-window", 20000, "wait-status", 30000, "Feche o jogo para concluir a atualização.",
                          "dump")
    assert not waiting["play_enabled"] and inst.calls() == []
    client.kill()
    inst.probe("wait-status", 20000, "Extraindo arquivos...", "sleep", 500, "close", "wait-gone", 10000)
    assert inst.proc.wait(20) == 0
    assert [name for name, _, _ in inst.calls()] == ["tar.exe"]
    assert wait_until(lambda: not running("tar.exe", inst.dir), 5)
    assert (inst.dir / "version.txt").read_bytes() == b"1.0.0" and not (inst.dir / "bin/data").exists()
    assert (inst.dir / "update_staging/data/new.txt").exists() and not (inst.dir / "update_staging.txt").exists()
    (inst.dir / "tar.exe.action").unlink()
    inst.start()
    inst.probe("wait-window", 20000, "wait-status", 30000, "Atualização concluída!", "close")
    assert inst.proc.wait(20) == 0 and (inst.dir / "bin/data/new.txt").read_bytes() == b"new"
    assert (inst.dir / "version.txt").read_bytes() == b"1.0.1" and not (inst.dir / "update_staging").exists()


def test_version_file_that_cannot_be_replaced(install, serve, immutable):
    serve({"/v.txt": "1.0.1", "/u.zip": CLIENT})
    inst = install(UPDATE, start=False)
    immutable(inst.dir / "version.txt")
    inst.start()
    inst.probe("wait-window", 20000, "wait-status", 30000,
               "Atualização instalada, mas o version.txt não pôde ser gravado.", "wait-enabled", 5000, "close")
    assert inst.proc.wait(20) == 0 and (inst.dir / "version.txt").read_bytes() == b"1.0.0"
