#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include <QOpenGLFunctions>
#include <QOpenGLWidget>

#include "video/videowidgetinterface.h"
#include "video/yuvframe.h"

class QOpenGLShader;
class QOpenGLShaderProgram;
class QOpenGLTexture;
class QSocketNotifier;

// Draws YUVFrames, converting to RGB in a fragment shader, with the picture's aspect ratio kept.
class OpenGLWidget : public QOpenGLWidget, public VideoWidgetInterface, protected QOpenGLFunctions {
    Q_OBJECT

public:
    explicit OpenGLWidget(QWidget *parent = nullptr);
    ~OpenGLWidget() override;

    void setClearColor(const float rgba[4]);
    bool renderFrame(std::weak_ptr<VideoFrameInterface> frame) override;

    // The quad's corners, (x, y) for left-bottom, right-bottom, left-top, right-top.
    void quad(float out[8]) const;
    // The corners for a frame in a view: the full view, or bars left and right or top and bottom
    // when the two ratios differ by more than 0.05.
    static void quadFor(int viewWidth, int viewHeight, uint32_t frameWidth, uint32_t frameHeight,
                        float out[8]);

signals:
    void sigFrameSizeChanged(float ratio);

protected:
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;
    // Runs at the end of each paint on the UI thread while the frame lock is still held.
    virtual void afterFrameDrawn() {}

private:
    void updateVertices();
    void uploadPlane(int unit, unsigned int texture, const uint8_t *plane, int width, int height, int stride);
    void onRepaintRequested();
    void releaseGL();

    QOpenGLShader *m_vertexShader = nullptr;
    QOpenGLShader *m_fragmentShader = nullptr;
    std::unique_ptr<QOpenGLShaderProgram> m_program;
    float m_vertices[8];
    std::unique_ptr<QOpenGLTexture> m_textureY;
    std::unique_ptr<QOpenGLTexture> m_textureU;
    std::unique_ptr<QOpenGLTexture> m_textureV;
    int m_uniformY = -1;
    int m_uniformU = -1;
    int m_uniformV = -1;
    unsigned int m_idY = 0;
    unsigned int m_idU = 0;
    unsigned int m_idV = 0;
    std::shared_ptr<YUVFrame> m_frame;
    float m_clearColor[4] = {0.23f, 0.23f, 0.25f, 1.0f};
    std::mutex m_frameLock;
    float m_lastRatio = 0.0f;

    // renderFrame wakes the UI thread through an eventfd: no allocation, no waiting.
    int m_wakeFd = -1;
    QSocketNotifier *m_wakeNotifier = nullptr;
    std::atomic<bool> m_repaintPending{false};
    bool m_rowLengthUpload = false;
    int m_uploadedSize[3][2] = {{0, 0}, {0, 0}, {0, 0}};
};
