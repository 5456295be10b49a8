#!/usr/bin/python3
"""tev-view under a private Xvfb, driven by xdotool the way a person would:
typing into a field, the GTK context menu's "Select All", an alert answered
with OK, and a <select> whose list is drawn into the frame.

Arguments: the tev-view program. With TEV_VIEW_SHOTS=DIR set, screenshots of
the viewer with the page, with its context menu and with the list open are
kept there."""
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

from PIL import Image

VIEWER = sys.argv[1]
PAGE = """<html><head><title>tev-view test page</title></head>
<body style="margin:0;font:16px sans-serif;background:#eef">
<h1 style="margin:8px">Hello from tev-view</h1>
<input id=f style="position:absolute;left:20px;top:80px;width:300px;height:30px"
  oninput="document.title='typed:'+this.value"
  onselect="document.title='selected:'+this.selectionStart+'-'+this.selectionEnd">
<button style="position:absolute;left:20px;top:130px;width:120px;height:30px"
  onclick="alert('hi there'); document.title='after-alert'">alert</button>
<select style="position:absolute;left:20px;top:180px;width:150px;height:26px;margin:0"
  onchange="document.title='changed:'+this.value">
<option value=va>alpha</option><option value=vb>beta</option><option value=vc>gamma</option>
<option value=vd>delta</option></select>
</body></html>"""
ROW = 22            # the list's row height
LIST_TOP = 180 + 26  # the list opens below the element
HIGHLIGHT = (0x33, 0x66, 0xCC)


def wait_for(what, check, seconds=30):
    give_up = time.time() + seconds
    while time.time() < give_up:
        value = check()
        if value:
            return value
        time.sleep(0.1)
    raise AssertionError("timed out waiting for " + what)


class Display:
    def __init__(self):
        read, write = os.pipe()
        self.server = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x900x24",
                                        "-nolisten", "tcp"], pass_fds=[write], stderr=subprocess.DEVNULL)
        os.close(write)
        number = b""
        while not number.endswith(b"\n"):
            chunk = os.read(read, 16)
            if not chunk:
                raise AssertionError("Xvfb did not start")
            number += chunk
        os.close(read)
        self.env = dict(os.environ, DISPLAY=":" + number.decode().strip())
        self.env.pop("WAYLAND_DISPLAY", None)

    def run(self, *args):
        return subprocess.run(list(args), env=self.env, capture_output=True, text=True).stdout.strip()

    def window_named(self, name):
        ids = self.run("xdotool", "search", "--name", name).split()
        return ids[-1] if ids else None

    def title(self, window):
        return self.run("xdotool", "getwindowname", window)

    def click(self, x, y, button=1):
        self.run("xdotool", "mousemove", str(x), str(y), "click", str(button))

    def shot(self, path):
        self.run("import", "-window", "root", path)
        return Image.open(path).convert("RGB")

    def close(self):
        self.server.terminate()
        self.server.wait()


def main():
    work = tempfile.mkdtemp(prefix="tev_view_test_")
    shots = os.environ.get("TEV_VIEW_SHOTS", work)
    os.makedirs(shots, exist_ok=True)
    with open(os.path.join(work, "page.html"), "w") as f:
        f.write(PAGE)
    display = Display()
    viewer = subprocess.Popen([VIEWER, "file://" + os.path.join(work, "page.html")], env=display.env,
                              stdout=subprocess.PIPE, text=True)
    areas = []
    threading.Thread(target=lambda: [areas.append(line.split()[1:]) for line in viewer.stdout
                                     if line.startswith("frame-area")], daemon=True).start()
    try:
        # The title bar shows the page's title.
        window = wait_for("the page's title", lambda: display.window_named("^tev-view test page$"))
        wait_for("the page area", lambda: areas)
        ax, ay = int(areas[-1][0]), int(areas[-1][1])
        # The window has no frame here: its origin is the screen's.
        time.sleep(1)
        display.shot(os.path.join(shots, "viewer.png"))

        # A click into the field and typed text reach the page.
        display.click(ax + 100, ay + 95)
        time.sleep(0.3)
        display.run("xdotool", "type", "--delay", "40", "hello")
        wait_for("typed text", lambda: display.title(window) == "typed:hello")

        # A right click opens the GTK menu built from the event; its mnemonic
        # chooses "Select All" (were no menu open, the key would type an "a").
        display.click(ax + 100, ay + 95, button=3)
        time.sleep(1.5)
        display.shot(os.path.join(shots, "context_menu.png"))
        display.run("xdotool", "key", "a")
        wait_for("the selection", lambda: display.title(window) == "selected:0-5")

        # alert() shows a GTK dialog; its OK lets the page go on.
        display.click(ax + 80, ay + 145)
        dialog = wait_for("the alert dialog", lambda: display.window_named("^Alert$"))
        assert display.title(window) == "selected:0-5", "the page went on before the answer"
        geometry = dict(line.split("=", 1) for line in
                        display.run("xdotool", "getwindowgeometry", "--shell", dialog).splitlines())
        x, y, w, h = (int(geometry[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))
        display.click(x + w // 2, y + h - 18)
        wait_for("the page after the alert", lambda: display.title(window) == "after-alert")

        # A <select> opened by a click shows its options in the frame.
        display.click(ax + 75, ay + 193)
        def list_shown():
            picture = display.shot(os.path.join(shots, "select_open.png"))
            rows = [picture.getpixel((ax + 120, ay + LIST_TOP + i * ROW + ROW // 2)) for i in range(4)]
            return rows == [HIGHLIGHT] + [(255, 255, 255)] * 3
        wait_for("the option list in the frame", list_shown)
        # A click on the third option fires change with its value.
        display.click(ax + 50, ay + LIST_TOP + 2 * ROW + ROW // 2)
        wait_for("the change", lambda: display.title(window) == "changed:vc")
        # Asked to end, it closes in order.
        viewer.terminate()
        assert viewer.wait(timeout=60) == 0, "tev-view exited with %d" % viewer.returncode
        print("tev-view test passed; screenshots in", shots)
    finally:
        if viewer.poll() is None:
            viewer.kill()
            viewer.wait()
        display.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
