"""The launcher's window, Play and the client start, on the real launcher under Wine."""
import shutil

from conftest import winpath

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
