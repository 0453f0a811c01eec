#include "platform/linux/single_instance.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "menu/qt_wait.h"

namespace ferrytide::platform {
namespace {

using testing::processEventsUntil;

// Each copy of the application has a bus connection of its own.
QDBusConnection connection(const QString& name) {
  return QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
}

TEST(SingleInstanceTest, FirstCopyKeepsTheNameAndNamesItsProcess) {
  const QString name = QStringLiteral("com.quenfold.ferrytide.first");
  std::optional<SingleInstance> first(std::in_place, connection(u"first"_qs), name);
  ASSERT_TRUE(first->claimFirst()) << first->error().toStdString();

  SingleInstance second(connection(u"second"_qs), name);
  EXPECT_FALSE(second.claimFirst());
  EXPECT_FALSE(second.claimNewest()) << "a copy that keeps the name is not replaced";
  EXPECT_EQ(second.holderPid(), quint32(::getpid()));

  // The name is free again once its holder goes.
  first.reset();
  EXPECT_TRUE(second.claimFirst()) << second.error().toStdString();
}

TEST(SingleInstanceTest, NewestCopyTakesTheNameFromTheRunningOne) {
  const QString name = QStringLiteral("com.quenfold.ferrytide.newest");
  SingleInstance older(connection(u"older"_qs), name);
  ASSERT_TRUE(older.claimNewest()) << older.error().toStdString();
  bool replaced = false;
  QObject::connect(&older, &SingleInstance::replaced, [&] { replaced = true; });

  SingleInstance newer(connection(u"newer"_qs), name);
  ASSERT_TRUE(newer.claimNewest()) << newer.error().toStdString();
  EXPECT_TRUE(processEventsUntil([&] { return replaced; }));
}

TEST(SingleInstanceTest, WithoutSessionBusTheClaimFailsWithAReason) {
  SingleInstance lonely(QDBusConnection(u"never-connected"_qs), u"com.quenfold.ferrytide.x"_qs);
  EXPECT_FALSE(lonely.claimFirst());
  EXPECT_FALSE(lonely.error().isEmpty());
}

}  // namespace
}  // namespace ferrytide::platform
