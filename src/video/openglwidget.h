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

    QOpenGLShader *vertexShader_ = nullptr;
    QOpenGLShader *fragmentShader_ = nullptr;
    std::unique_ptr<QOpenGLShaderProgram> program_;
    float vertices_[8];
    std::unique_ptr<QOpenGLTexture> textureY_;
    std::unique_ptr<QOpenGLTexture> textureU_;
    std::unique_ptr<QOpenGLTexture> textureV_;
    int uniformY_ = -1;
    int uniformU_ = -1;
    int uniformV_ = -1;
    unsigned int idY_ = 0;
    unsigned int idU_ = 0;
    unsigned int idV_ = 0;
    std::shared_ptr<YUVFrame> frame_;
    float clearColor_[4] = {0.23f, 0.23f, 0.25f, 1.0f};
    std::mutex frameLock_;
    float lastRatio_ = 0.0f;

    // renderFrame wakes the UI thread through an eventfd: no allocation, no waiting.
    int wakeFd_ = -1;
    QSocketNotifier *wakeNotifier_ = nullptr;
    std::atomic<bool> repaintPending_{false};
    bool rowLengthUpload_ = false;
    int uploadedSize_[3][2] = {{0, 0}, {0, 0}, {0, 0}};
};
