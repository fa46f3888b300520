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
    : QOpenGLWidget(parent), m_vertices{-1.0f, -1.0f, 1.0f, -1.0f, -1.0f, 1.0f, 1.0f, 1.0f} {
    m_wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_wakeFd >= 0) {
        m_wakeNotifier = new QSocketNotifier(m_wakeFd, QSocketNotifier::Read, this);
        connect(m_wakeNotifier, &QSocketNotifier::activated, this, &OpenGLWidget::onRepaintRequested);
    }
}

OpenGLWidget::~OpenGLWidget() {
    if (m_wakeNotifier)
        m_wakeNotifier->setEnabled(false);
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
    releaseGL();
    // The base destructor destroys the context, which must not call back into this part.
    if (QOpenGLContext *ctx = context())
        disconnect(ctx, nullptr, this, nullptr);
}

void OpenGLWidget::releaseGL() {
    if (!m_program && !m_textureY)
        return;
    makeCurrent();
    m_textureY.reset();
    m_textureU.reset();
    m_textureV.reset();
    m_program.reset();
    delete m_vertexShader;
    m_vertexShader = nullptr;
    delete m_fragmentShader;
    m_fragmentShader = nullptr;
    for (auto &size : m_uploadedSize)
        size[0] = size[1] = 0;
    doneCurrent();
}

void OpenGLWidget::setClearColor(const float rgba[4]) {
    for (int i = 0; i < 4; ++i)
        m_clearColor[i] = rgba[i];
}

bool OpenGLWidget::renderFrame(std::weak_ptr<VideoFrameInterface> frame) {
    std::unique_lock<std::mutex> lock(m_frameLock, std::try_to_lock);
    if (!lock.owns_lock())
        return false;
    m_frame = std::dynamic_pointer_cast<YUVFrame>(frame.lock());
    lock.unlock();
    if (m_wakeFd >= 0 && !m_repaintPending.exchange(true)) {
        const uint64_t one = 1;
        // Only fails when the counter is saturated, and then a wake-up is pending anyway.
        [[maybe_unused]] ssize_t written = ::write(m_wakeFd, &one, sizeof one);
    }
    return true;
}

void OpenGLWidget::onRepaintRequested() {
    uint64_t count = 0;
    [[maybe_unused]] ssize_t got = ::read(m_wakeFd, &count, sizeof count);
    m_repaintPending.store(false);
    update();
}

void OpenGLWidget::quad(float out[8]) const {
    for (int i = 0; i < 8; ++i)
        out[i] = m_vertices[i];
}

void OpenGLWidget::initializeGL() {
    // Moving the widget to another window replaces its context; the old resources go with it.
    releaseGL();
    connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, &OpenGLWidget::releaseGL,
            Qt::UniqueConnection);
    initializeOpenGLFunctions();
    glEnable(GL_DEPTH_TEST);

    m_vertexShader = new QOpenGLShader(QOpenGLShader::Vertex, this);
    m_vertexShader->compileSourceCode(kVertexSource);
    m_fragmentShader = new QOpenGLShader(QOpenGLShader::Fragment, this);
    m_fragmentShader->compileSourceCode(kFragmentSource);

    m_program = std::make_unique<QOpenGLShaderProgram>();
    m_program->addShader(m_fragmentShader);
    m_program->addShader(m_vertexShader);
    m_program->bindAttributeLocation("vertexIn", kVertexIn);
    m_program->bindAttributeLocation("textureIn", kTextureIn);
    m_program->link();
    m_program->bind();
    m_uniformY = m_program->uniformLocation("tex_y");
    m_uniformU = m_program->uniformLocation("tex_u");
    m_uniformV = m_program->uniformLocation("tex_v");

    {
        std::lock_guard<std::mutex> lock(m_frameLock);
        updateVertices();
    }

    m_textureY = std::make_unique<QOpenGLTexture>(QOpenGLTexture::Target2D);
    m_textureU = std::make_unique<QOpenGLTexture>(QOpenGLTexture::Target2D);
    m_textureV = std::make_unique<QOpenGLTexture>(QOpenGLTexture::Target2D);
    m_textureY->create();
    m_textureU->create();
    m_textureV->create();
    m_idY = m_textureY->textureId();
    m_idU = m_textureU->textureId();
    m_idV = m_textureV->textureId();

    // Desktop GL can skip row padding while uploading, so the texture holds only the picture.
    QOpenGLContext *ctx = context();
    m_rowLengthUpload = !ctx->isOpenGLES() || ctx->format().majorVersion() >= 3 ||
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
    quadFor(width(), height(), m_frame ? m_frame->width() : 0, m_frame ? m_frame->height() : 0, m_vertices);
    if (!m_program)
        return;
    glVertexAttribPointer(kVertexIn, 2, GL_FLOAT, GL_FALSE, 0, m_vertices);
    glVertexAttribPointer(kTextureIn, 2, GL_FLOAT, GL_FALSE, 0, kTextureCoords);
    glEnableVertexAttribArray(kVertexIn);
    glEnableVertexAttribArray(kTextureIn);
}

void OpenGLWidget::resizeGL(int w, int h) {
    QOpenGLWidget::resizeGL(w, h);
    glViewport(0, 0, w == 0 ? 1 : w, h);
    std::lock_guard<std::mutex> lock(m_frameLock);
    updateVertices();
}

void OpenGLWidget::uploadPlane(int unit, unsigned int texture, const uint8_t *plane, int width, int height,
                               int stride) {
    glActiveTexture(GL_TEXTURE0 + unit);
    glBindTexture(GL_TEXTURE_2D, texture);
    const int textureWidth = m_rowLengthUpload ? width : stride;
    if (m_rowLengthUpload)
        glPixelStorei(GL_UNPACK_ROW_LENGTH, stride);
    // GL_RED is core on desktop GL; ES 2 only knows luminance, which the shader reads as .r too.
    const GLenum format =
        context()->isOpenGLES() && context()->format().majorVersion() < 3 ? GL_LUMINANCE : GL_RED;
    if (m_uploadedSize[unit][0] == textureWidth && m_uploadedSize[unit][1] == height) {
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, textureWidth, height, format, GL_UNSIGNED_BYTE, plane);
    } else {
        glTexImage2D(GL_TEXTURE_2D, 0, format, textureWidth, height, 0, format, GL_UNSIGNED_BYTE, plane);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        m_uploadedSize[unit][0] = textureWidth;
        m_uploadedSize[unit][1] = height;
    }
    if (m_rowLengthUpload)
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
}

void OpenGLWidget::paintGL() {
    glClearColor(m_clearColor[0], m_clearColor[1], m_clearColor[2], m_clearColor[3]);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

    bool sizeChanged = false;
    float ratio = 0.0f;
    {
        std::lock_guard<std::mutex> lock(m_frameLock);
        if (m_frame && m_frame->width() > 0 && m_frame->height() > 0) {
            ratio = float(m_frame->width()) / float(m_frame->height());
            if (std::fabs(m_lastRatio - ratio) > 0.01f) {
                updateVertices();
                m_lastRatio = ratio;
                sizeChanged = true;
            }
            if (m_frame->data() && m_program) {
                m_program->bind();
                // Rows of odd-width planes are not 4-byte aligned.
                glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
                const int w = int(m_frame->width());
                const int h = int(m_frame->height());
                const int cw = (w + 1) / 2;
                const int ch = int(m_frame->chromaHeight());
                uploadPlane(0, m_idY, m_frame->planeY(), w, h, int(m_frame->yStride()));
                uploadPlane(1, m_idU, m_frame->planeU(), cw, ch, int(m_frame->uStride()));
                uploadPlane(2, m_idV, m_frame->planeV(), cw, ch, int(m_frame->vStride()));
                glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
                m_program->setUniformValue(m_uniformY, 0);
                m_program->setUniformValue(m_uniformU, 1);
                m_program->setUniformValue(m_uniformV, 2);
                // QOpenGLWidget's own composition may have touched the attribute state.
                glVertexAttribPointer(kVertexIn, 2, GL_FLOAT, GL_FALSE, 0, m_vertices);
                glVertexAttribPointer(kTextureIn, 2, GL_FLOAT, GL_FALSE, 0, kTextureCoords);
                glEnableVertexAttribArray(kVertexIn);
                glEnableVertexAttribArray(kTextureIn);
                glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
                m_program->release();
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
