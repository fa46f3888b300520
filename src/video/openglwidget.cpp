#include "video/openglwidget.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>

#include <QOpenGLContext>
#include <QOpenGLShader>
#include <QOpenGLShaderProgram>
#include <QOpenGLTexture>
#include <QSocketNotifier>

#ifndef GL_UNPACK_ROW_LENGTH
#define GL_UNPACK_ROW_LENGTH 0x0CF2
#endif
#ifndef GL_RED
#define GL_RED 0x1903
#endif

namespace {

constexpr int kVertexIn = 3;
constexpr int kTextureIn = 4;

const char *const kVertexSource =
    " attribute vec4 vertexIn;    attribute vec2 textureIn;   varying vec2 textureOut;    void main(void) "
    "{               gl_Position = vertexIn;     textureOut = textureIn; }                           ";

const char *const kFragmentSource =
    "#ifdef GL_ES               \n"
    "precision mediump float;   \n"
    "#endif                     \n"
    "varying vec2 textureOut;   uniform sampler2D tex_y;    uniform sampler2D tex_u;    uniform sampler2D "
    "tex_v;    void main(void) {               vec3 yuv;                   vec3 rgb;                   "
    "yuv.x = texture2D(tex_y, textureOut).r;             yuv.y = texture2D(tex_u, textureOut).r - 0.5;       "
    "yuv.z = texture2D(tex_v, textureOut).r - 0.5;       float r = yuv.x +             1.402 *yuv.z;    "
    "float g = yuv.x - 0.344 * yuv.y - 0.714 * yuv.z;    float b = yuv.x + 1.772 * yuv.y;    gl_FragColor = "
    "vec4(r, g, b, 1.0);}";

const GLfloat kTextureCoords[8] = {0.0f, 1.0f, 1.0f, 1.0f, 0.0f, 0.0f, 1.0f, 0.0f};

}  // namespace

OpenGLWidget::OpenGLWidget(QWidget *parent)
    : QOpenGLWidget(parent), vertices_{-1.0f, -1.0f, 1.0f, -1.0f, -1.0f, 1.0f, 1.0f, 1.0f} {
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ >= 0) {
        wakeNotifier_ = new QSocketNotifier(wakeFd_, QSocketNotifier::Read, this);
        connect(wakeNotifier_, &QSocketNotifier::activated, this, &OpenGLWidget::onRepaintRequested);
    }
}

OpenGLWidget::~OpenGLWidget() {
    if (wakeNotifier_)
        wakeNotifier_->setEnabled(false);
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
    releaseGL();
    // The base destructor destroys the context, which must not call back into this part.
    if (QOpenGLContext *ctx = context())
        disconnect(ctx, nullptr, this, nullptr);
}

void OpenGLWidget::releaseGL() {
    if (!program_ && !textureY_)
        return;
    makeCurrent();
    textureY_.reset();
    textureU_.reset();
    textureV_.reset();
    program_.reset();
    delete vertexShader_;
    vertexShader_ = nullptr;
    delete fragmentShader_;
    fragmentShader_ = nullptr;
    for (auto &size : uploadedSize_)
        size[0] = size[1] = 0;
    doneCurrent();
}

void OpenGLWidget::setClearColor(const float rgba[4]) {
    for (int i = 0; i < 4; ++i)
        clearColor_[i] = rgba[i];
}

bool OpenGLWidget::renderFrame(std::weak_ptr<VideoFrameInterface> frame) {
    std::unique_lock<std::mutex> lock(frameLock_, std::try_to_lock);
    if (!lock.owns_lock())
        return false;
    frame_ = std::dynamic_pointer_cast<YUVFrame>(frame.lock());
    lock.unlock();
    if (wakeFd_ >= 0 && !repaintPending_.exchange(true)) {
        const uint64_t one = 1;
        // Only fails when the counter is saturated, and then a wake-up is pending anyway.
        [[maybe_unused]] ssize_t written = ::write(wakeFd_, &one, sizeof one);
    }
    return true;
}

void OpenGLWidget::onRepaintRequested() {
    uint64_t count = 0;
    [[maybe_unused]] ssize_t got = ::read(wakeFd_, &count, sizeof count);
    repaintPending_.store(false);
    update();
}

void OpenGLWidget::quad(float out[8]) const {
    for (int i = 0; i < 8; ++i)
        out[i] = vertices_[i];
}

void OpenGLWidget::initializeGL() {
    // Moving the widget to another window replaces its context; the old resources go with it.
    releaseGL();
    connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, &OpenGLWidget::releaseGL,
            Qt::UniqueConnection);
    initializeOpenGLFunctions();
    glEnable(GL_DEPTH_TEST);

    vertexShader_ = new QOpenGLShader(QOpenGLShader::Vertex, this);
    vertexShader_->compileSourceCode(kVertexSource);
    fragmentShader_ = new QOpenGLShader(QOpenGLShader::Fragment, this);
    fragmentShader_->compileSourceCode(kFragmentSource);

    program_ = std::make_unique<QOpenGLShaderProgram>();
    program_->addShader(fragmentShader_);
    program_->addShader(vertexShader_);
    program_->bindAttributeLocation("vertexIn", kVertexIn);
    program_->bindAttributeLocation("textureIn", kTextureIn);
    program_->link();
    program_->bind();
    uniformY_ = program_->uniformLocation("tex_y");
    uniformU_ = program_->uniformLocation("tex_u");
    uniformV_ = program_->uniformLocation("tex_v");

    {
        std::lock_guard<std::mutex> lock(frameLock_);
        updateVertices();
    }

    textureY_ = std::make_unique<QOpenGLTexture>(QOpenGLTexture::Target2D);
    textureU_ = std::make_unique<QOpenGLTexture>(QOpenGLTexture::Target2D);
    textureV_ = std::make_unique<QOpenGLTexture>(QOpenGLTexture::Target2D);
    textureY_->create();
    textureU_->create();
    textureV_->create();
    idY_ = textureY_->textureId();
    idU_ = textureU_->textureId();
    idV_ = textureV_->textureId();

    // Desktop GL can skip row padding while uploading, so the texture holds only the picture.
    QOpenGLContext *ctx = context();
    rowLengthUpload_ = !ctx->isOpenGLES() || ctx->format().majorVersion() >= 3 ||
                       ctx->hasExtension("GL_EXT_unpack_subimage");
}

void OpenGLWidget::quadFor(int viewWidth, int viewHeight, uint32_t frameWidth, uint32_t frameHeight,
                           float out[8]) {
    float left = -1.0f, right = 1.0f, bottom = -1.0f, top = 1.0f;
    if (frameWidth > 0 && frameHeight > 0 && viewWidth > 0 && viewHeight > 0) {
        const float viewRatio = float(viewWidth) / float(viewHeight);
        const float frameRatio = float(frameWidth) / float(frameHeight);
        if (viewRatio - frameRatio > 0.05f) {
            right = frameRatio / viewRatio;
            left = -right;
        } else if (frameRatio - viewRatio > 0.05f) {
            top = viewRatio / frameRatio;
            bottom = -top;
        }
    }
    const float corners[8] = {left, bottom, right, bottom, left, top, right, top};
    for (int i = 0; i < 8; ++i)
        out[i] = corners[i];
}

void OpenGLWidget::updateVertices() {
    quadFor(width(), height(), frame_ ? frame_->width() : 0, frame_ ? frame_->height() : 0, vertices_);
    if (!program_)
        return;
    glVertexAttribPointer(kVertexIn, 2, GL_FLOAT, GL_FALSE, 0, vertices_);
    glVertexAttribPointer(kTextureIn, 2, GL_FLOAT, GL_FALSE, 0, kTextureCoords);
    glEnableVertexAttribArray(kVertexIn);
    glEnableVertexAttribArray(kTextureIn);
}

void OpenGLWidget::resizeGL(int w, int h) {
    QOpenGLWidget::resizeGL(w, h);
    glViewport(0, 0, w == 0 ? 1 : w, h);
    std::lock_guard<std::mutex> lock(frameLock_);
    updateVertices();
}

void OpenGLWidget::uploadPlane(int unit, unsigned int texture, const uint8_t *plane, int width, int height,
                               int stride) {
    glActiveTexture(GL_TEXTURE0 + unit);
    glBindTexture(GL_TEXTURE_2D, texture);
    const int textureWidth = rowLengthUpload_ ? width : stride;
    if (rowLengthUpload_)
        glPixelStorei(GL_UNPACK_ROW_LENGTH, stride);
    // GL_RED is core on desktop GL; ES 2 only knows luminance, which the shader reads as .r too.
    const GLenum format =
        context()->isOpenGLES() && context()->format().majorVersion() < 3 ? GL_LUMINANCE : GL_RED;
    if (uploadedSize_[unit][0] == textureWidth && uploadedSize_[unit][1] == height) {
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, textureWidth, height, format, GL_UNSIGNED_BYTE, plane);
    } else {
        glTexImage2D(GL_TEXTURE_2D, 0, format, textureWidth, height, 0, format, GL_UNSIGNED_BYTE, plane);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        uploadedSize_[unit][0] = textureWidth;
        uploadedSize_[unit][1] = height;
    }
    if (rowLengthUpload_)
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
}

void OpenGLWidget::paintGL() {
    glClearColor(clearColor_[0], clearColor_[1], clearColor_[2], clearColor_[3]);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

    bool sizeChanged = false;
    float ratio = 0.0f;
    {
        std::lock_guard<std::mutex> lock(frameLock_);
        if (frame_ && frame_->width() > 0 && frame_->height() > 0) {
            ratio = float(frame_->width()) / float(frame_->height());
            if (std::fabs(lastRatio_ - ratio) > 0.01f) {
                updateVertices();
                lastRatio_ = ratio;
                sizeChanged = true;
            }
            if (frame_->data() && program_) {
                program_->bind();
                // Rows of odd-width planes are not 4-byte aligned.
                glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
                const int w = int(frame_->width());
                const int h = int(frame_->height());
                const int cw = (w + 1) / 2;
                const int ch = int(frame_->chromaHeight());
                uploadPlane(0, idY_, frame_->planeY(), w, h, int(frame_->yStride()));
                uploadPlane(1, idU_, frame_->planeU(), cw, ch, int(frame_->uStride()));
                uploadPlane(2, idV_, frame_->planeV(), cw, ch, int(frame_->vStride()));
                glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
                program_->setUniformValue(uniformY_, 0);
                program_->setUniformValue(uniformU_, 1);
                program_->setUniformValue(uniformV_, 2);
                // QOpenGLWidget's own composition may have touched the attribute state.
                glVertexAttribPointer(kVertexIn, 2, GL_FLOAT, GL_FALSE, 0, vertices_);
                glVertexAttribPointer(kTextureIn, 2, GL_FLOAT, GL_FALSE, 0, kTextureCoords);
                glEnableVertexAttribArray(kVertexIn);
                glEnableVertexAttribArray(kTextureIn);
                glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
                program_->release();
                glActiveTexture(GL_TEXTURE0);
            }
        }
        afterFrameDrawn();
    }
    // Emitted after the lock is released: a receiver that resizes the view re-enters resizeGL,
    // which takes the lock.
    if (sizeChanged)
        emit sigFrameSizeChanged(ratio);
}
