#pragma once

#include "rclcpp/exceptions/exceptions.hpp"
