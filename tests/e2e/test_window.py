"""The launcher's window, Play and the client start, and a second start of a folder, on the real
launcher under Wine. These rows look at the foreground window, so no other launcher window may
appear meanwhile: the other modules start after this one."""
import shutil
import subprocess

from conftest import STANDIN, winpath

E2 = "Configure as URLs no launcher_config.ini"


def test_window_then_missing_broken_and_started_client(install, httpserver):
    inst = install({"launcher_config.ini": "[Launcher]\r\nClientExe=game\\run.exe\r\n"}, start=False)  # no URLs
    inst.start(cwd=inst.dir.parent)  # the install folder is the exe's, not the current one
    state, = inst.probe("wait-window", 20000, "wait-enabled", 15000, "wait-focus", 2000, "dump")
    # Caption, system menu and minimize box; no sizing border, no maximize box.
    assert state.pop("style") & 0x00CF0000 == 0x00CA0000
    assert state == {"caption": "Velmora - Launcher", "title": "Velmora", "version": "Versão: 0.0.0", "status": E2,
                     "play_enabled": True, "play_focused": True, "play_text": "JOGAR", "progress": 0,
                     "x": 433, "y": 234, "width": 500, "height": 300, "minimized": False, "foreground": True}
    box = {"box_caption": "Erro", "box_icon": "error", "box_owner_is_launcher": True}
    missing, = inst.probe("click", "msgbox", 10000, "ok")
    assert missing == dict(box, box_text="Executável não encontrado:\n%s\\bin\\game\\run.exe" % winpath(inst.dir))
    (inst.dir / "bin/game").mkdir(parents=True)
    (inst.dir / "bin/game/run.exe").write_bytes(b"this is not a program\r\n")
    broken, state = inst.probe("click", "msgbox", 10000, "ok", "dump")
    assert (broken, state["play_enabled"]) == (dict(box, box_text="Falha ao iniciar o client!"), True)
    # Any notification from Play counts as a press; a client in a sub-folder still runs in bin.
    shutil.copy(inst.build / "tests/standin.exe", inst.dir / "bin/game/run.exe")
    inst.probe("command", 5)
    inst.client_started()
    assert httpserver.log == []


def test_one_launcher_per_folder(install, serve):
    """A second start of a folder shows the first one's window and leaves; another folder's launcher
    runs its own pass to its own ending meanwhile, and the first one's status stays its own. The
    names are UTF-8: the first in the INI, the other in the remote configuration."""
    serve({"/v.txt": "1.0.1", "/u.zip": {"velmoraclient.exe": STANDIN}, "/cfg.txt": "[Launcher]\nServerName=São Paulo\n"})
    first = install({"launcher_config.ini": "[Launcher]\r\nServerName=Região Norte\r\n"})
    first.probe("wait-window", 20000, "wait-enabled", 15000, "minimize")
    second = subprocess.run(["wine", first.dir / "VelmoraLauncher.exe"], cwd=first.dir, env=first.env, timeout=20,
                            stdin=subprocess.DEVNULL, capture_output=True)
    state, = first.probe("sleep", 500, "dump")
    assert (second.returncode, state["minimized"], state["foreground"]) == (0, False, True)
    other = install({"launcher_config.ini": "[Launcher]\r\nVersionURL={url}/v.txt\r\nUpdateURL={url}/u.zip\r\n"
                                            "ConfigURL={url}/cfg.txt", "version.txt": "1.0.0", "tar.exe.action": "unzip"})
    done, = other.probe("wait-window", 20000, "wait-status", 30000, "Atualização concluída!", "wait-focus", 5000,
                        "dump", "close", "wait-gone", 10000)
    assert other.proc.wait(20) == 0 and (other.dir / "version.txt").read_bytes() == b"1.0.1"
    state, = first.probe("dump", "close", "wait-gone", 10000)
    assert (done["caption"], state["caption"], state["title"], state["status"]) == (
        "São Paulo - Launcher", "Região Norte - Launcher", "Região Norte", "Configure as URLs no launcher_config.ini")
    assert first.proc.wait(20) == 0
