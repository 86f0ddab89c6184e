#include <gtest/gtest.h>

#include "e2e/x_session.h"

namespace dovetrel::e2e {
namespace {}  // namespace
}  // namespace dovetrel::e2e
