#pragma once

#include "rclcpp/context.hpp"
