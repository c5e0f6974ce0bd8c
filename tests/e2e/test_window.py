"""The launcher's window, Play and the client start, on the real launcher under Wine."""
import pytest

from conftest import STANDIN, winpath

E2 = "Configure as URLs no launcher_config.ini"


def test_window_then_missing_and_broken_client(install, httpserver):
    inst = install({}, start=False)  # no configuration, no bin folder
    inst.start(cwd=inst.dir.parent)  # the install folder is the exe's, not the current one
    state, = inst.probe("wait-window", 20000, "wait-enabled", 15000, "wait-focus", 2000, "dump")
    # Caption, system menu and minimize box; no sizing border, no maximize box.
    assert state.pop("style") & 0x00CF0000 == 0x00CA0000
    assert state == {"caption": "Velmora - Launcher", "title": "Velmora", "version": "Versão: 0.0.0", "status": E2,
                     "play_enabled": True, "play_focused": True, "play_text": "JOGAR", "progress": 0,
                     "x": 433, "y": 234, "width": 500, "height": 300, "minimized": False, "foreground": True}
    box = {"box_caption": "Erro", "box_icon": "error", "box_owner_is_launcher": True}
    missing, = inst.probe("click", "msgbox", 10000, "ok")
    assert missing == dict(box, box_text="Executável não encontrado:\n%s\\bin\\velmoraclient.exe" % winpath(inst.dir))
    (inst.dir / "bin").mkdir()
    (inst.dir / "bin/velmoraclient.exe").write_bytes(b"this is not a program\r\n")
    broken, state = inst.probe("click", "msgbox", 10000, "ok", "dump", "close")
    assert (broken, state["play_enabled"]) == (dict(box, box_text="Falha ao iniciar o client!"), True)
    assert inst.proc.wait(20) == 0
    assert httpserver.log == []


PLAY = [  # configuration lines, the ending that hands Play over, how Play is pressed, the client
    pytest.param("VersionURL={url}/v.txt\r\nUpdateURL={url}/u.zip", "Client atualizado!", ["click"],
                 "bin/velmoraclient.exe", id="click when current"),
    # Any notification from Play counts as a press; a client in a sub-folder still runs in bin.
    pytest.param("ClientExe=game\\run.exe", E2, ["command", 5], "bin/game/run.exe", id="other notification"),
]


@pytest.mark.parametrize("ini, ending, press, client", PLAY)
def test_play_starts_the_client_in_bin_and_ends(install, serve, ini, ending, press, client):
    serve({"/v.txt": "1.0.1\n"})
    inst = install({"launcher_config.ini": "[Launcher]\r\n" + ini, "version.txt": "1.0.1\r\n", client: STANDIN})
    inst.probe("wait-window", 20000, "wait-status", 30000, ending, "wait-enabled", 5000, *press)
    inst.client_started()
    assert (inst.dir / "version.txt").read_bytes() == b"1.0.1\r\n"  # a current version is not written again
