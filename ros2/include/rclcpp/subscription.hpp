#pragma once

#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <typeindex>
#include <utility>

#include "rclcpp/detail/subscription_base.hpp"
#include "rclcpp/macros.hpp"
#include "rclcpp/qos.hpp"
#include "rosidl_runtime_cpp/traits.hpp"

namespace rclcpp {

/// Receives messages of type `MessageT` from one topic into a queue that the executor of its
/// node drains, calling the callback on the executor's thread. The callback may take
/// `const MessageT&`, `std::shared_ptr<const MessageT>` (by value or const reference),
/// `std::shared_ptr<MessageT>` or `std::unique_ptr<MessageT>` (the last two get a private copy).
/// Created by Node::create_subscription. Thread-safe.
template <typename MessageT, typename AllocatorT = std::allocator<void>>
class Subscription : public SubscriptionBase {
 public:
  RCLCPP_SMART_PTR_DEFINITIONS(Subscription<MessageT, AllocatorT>)

  using ConstMessageSharedPtr = std::shared_ptr<const MessageT>;

  template <typename CallbackT>
  Subscription(const std::shared_ptr<detail::NodeCore>& node, const std::string& topic_name,
               const QoS& qos, CallbackT&& callback)
      : SubscriptionBase(node, topic_name, qos, std::type_index(typeid(MessageT)),
                         rosidl_generator_traits::name<MessageT>()),
        callback_(adapt(std::forward<CallbackT>(callback))) {
    attach_dds(rosidl_typesupport_velmora::MessageTypeSupportOf<MessageT>::get());
  }

  ~Subscription() override { detach_dds(); }

 protected:
  void handle_message(const std::shared_ptr<const void>& message) override {
    callback_(std::static_pointer_cast<const MessageT>(message));
  }

 private:
  using Callback = std::function<void(const ConstMessageSharedPtr&)>;

  template <typename CallbackT>
  static Callback adapt(CallbackT&& callback) {
    using F = std::decay_t<CallbackT>;
    if constexpr (std::is_invocable_v<F&, const ConstMessageSharedPtr&>) {
      return [f = F(std::forward<CallbackT>(callback))](const ConstMessageSharedPtr& msg) mutable {
        f(msg);
      };
    } else if constexpr (std::is_invocable_v<F&, const MessageT&>) {
      return [f = F(std::forward<CallbackT>(callback))](const ConstMessageSharedPtr& msg) mutable {
        f(*msg);
      };
    } else if constexpr (std::is_invocable_v<F&, std::unique_ptr<MessageT>>) {
      return [f = F(std::forward<CallbackT>(callback))](const ConstMessageSharedPtr& msg) mutable {
        f(std::make_unique<MessageT>(*msg));
      };
    } else if constexpr (std::is_invocable_v<F&, const std::shared_ptr<MessageT>&>) {
      return [f = F(std::forward<CallbackT>(callback))](const ConstMessageSharedPtr& msg) mutable {
        f(std::make_shared<MessageT>(*msg));
      };
    } else {
      static_assert(sizeof(F) == 0, "unsupported subscription callback signature");
    }
  }

  Callback callback_;
};

}  // namespace rclcpp
