#pragma once

#include "rclcpp/executor.hpp"
#include "rclcpp/executors/single_threaded_executor.hpp"
