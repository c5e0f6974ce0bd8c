"""The launcher in real installs: a folder it may not write, a second start, a client still
running, closing while a tool unpacks, accented texts, a version file it cannot replace."""
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


def running(name, env):
    """Linux processes named `name` (Wine names a process after its exe) of this Wine prefix only."""
    mine, found = b"\0WINEPREFIX=%s\0" % env["WINEPREFIX"].encode(), []
    for status in Path("/proc").glob("[0-9]*/status"):
        try:
            if status.read_text().startswith("Name:\t%s\n" % name) and mine in b"\0" + (status.parent / "environ").read_bytes():
                found.append(status)
        except OSError:  # it has ended meanwhile
            pass
    return found


def processes(env):
    """(name, parent's process id, process id) of every Windows process of the prefix."""
    listed = wine(env, "wmic", "process", "get", "Name,ParentProcessId,ProcessId").stdout.decode("utf-16")
    return {int(pid): (name, int(parent)) for name, parent, pid in (line.split() for line in listed.splitlines()[1:]
                                                                    if line.strip())}


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
        assert [name for name, _ in running_now.values()].count("VelmoraLauncher.exe") == 2
    inst.probe("click")
    inst.client_started()
    if answer == "yes":
        assert [parent for name, parent in processes(inst.env).values() if name == "velmoraclient.exe"] == [player]


def test_one_launcher_per_folder(install, serve):
    """A second start of a folder shows the first one's window and leaves; another folder's launcher
    runs its own pass to its own ending meanwhile, and the first one's status stays its own. The
    names are UTF-8: the first in the INI, the other in the remote configuration."""
    serve({"/v.txt": "1.0.1", "/u.zip": CLIENT, "/cfg.txt": "[Launcher]\nServerName=São Paulo\n"})
    first = install({"launcher_config.ini": "[Launcher]\r\nServerName=Região Norte\r\n"})
    first.probe("window", "Região Norte - Launcher", "wait-window", 20000, "wait-enabled", 15000, "minimize")
    second = subprocess.run(["wine", first.dir / "VelmoraLauncher.exe"], cwd=first.dir, env=first.env, timeout=20,
                            stdin=subprocess.DEVNULL, capture_output=True)
    state, = first.probe("window", "Região Norte - Launcher", "sleep", 500, "dump")
    assert (second.returncode, state["minimized"], state["foreground"]) == (0, False, True)
    other = install(dict(UPDATE, **{"launcher_config.ini": UPDATE["launcher_config.ini"] + "ConfigURL={url}/cfg.txt"}))
    other.probe("window", "São Paulo - Launcher", "wait-window", 20000, "wait-status", 30000,
                "Atualização concluída!", "close", "wait-gone", 10000)
    assert other.proc.wait(20) == 0 and (other.dir / "version.txt").read_bytes() == b"1.0.1"
    state, = first.probe("window", "Região Norte - Launcher", "dump", "close", "wait-gone", 10000)
    assert (state["title"], state["status"]) == ("Região Norte", "Configure as URLs no launcher_config.ini")
    assert first.proc.wait(20) == 0


def test_running_client_is_waited_for_then_closing_ends_the_tool(install, serve):
    """No tool runs while the client holds its exe; once it has ended the unpacking starts, and
    closing the launcher then ends the tool, which hangs."""
    serve({"/v.txt": "1.0.1", "/u.zip": CLIENT})
    inst = install(dict(UPDATE, **{"bin/velmoraclient.exe": STANDIN, "tar.exe.action": "hang"}), start=False)
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
    assert wait_until(lambda: not running("tar.exe", inst.env), 5)
    assert (inst.dir / "version.txt").read_bytes() == b"1.0.0"


def test_version_file_that_cannot_be_replaced(install, serve, immutable):
    serve({"/v.txt": "1.0.1", "/u.zip": CLIENT})
    inst = install(UPDATE, start=False)
    immutable(inst.dir / "version.txt")
    inst.start()
    inst.probe("wait-window", 20000, "wait-status", 30000,
               "Atualização instalada, mas o version.txt não pôde ser gravado.", "wait-enabled", 5000, "close")
    assert inst.proc.wait(20) == 0 and (inst.dir / "version.txt").read_bytes() == b"1.0.0"
