#!/usr/bin/python3
"""A camera on the loopback for the tests: GStreamer's RTSP server serving a
file's H.264 pictures at rtsp://127.0.0.1:PORT/camera, from its start for
each client. Prints "ready" once it listens.

Usage: rtsp_camera.py PORT FILE.mp4
"""
import sys

import gi

gi.require_version("Gst", "1.0")
gi.require_version("GstRtspServer", "1.0")
from gi.repository import GLib, Gst, GstRtspServer  # noqa: E402


def main():
    port, path = sys.argv[1], sys.argv[2]
    Gst.init(None)
    server = GstRtspServer.RTSPServer()
    server.set_address("127.0.0.1")
    server.set_service(port)
    factory = GstRtspServer.RTSPMediaFactory()
    factory.set_launch(
        f'( filesrc location="{path}" ! qtdemux ! h264parse config-interval=-1 '
        "! rtph264pay name=pay0 pt=96 )"
    )
    server.get_mount_points().add_factory("/camera", factory)
    if server.attach(None) == 0:
        sys.exit(f"rtsp_camera: cannot listen on port {port}")
    print("ready", flush=True)
    GLib.MainLoop().run()


if __name__ == "__main__":
    main()
