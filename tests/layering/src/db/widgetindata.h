#pragma once
// A data-side header that reaches for a widget and for the sign-in: the layering check must refuse
// both.

#include "signin/unit10.h"

#include <QWidget>
