#include "video/videowidgetinterface.h"

VideoWidgetInterface::~VideoWidgetInterface() = default;
