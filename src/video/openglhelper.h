#pragma once

class QObject;

// The process-wide choice between the OpenGL and the software video path.
class OpenGLHelper {
public:
    // Probes OpenGL on the UI thread: creates a context (child of parent), makes it current on an
    // offscreen surface and asks for the OpenGL 1.0 functions, which set the flag. Returns whether
    // the context could be made current.
    static bool init(QObject *parent);

    // The flag: false until init found OpenGL. Safe to read from any thread.
    static bool isSupported();
};
