#include "krvt5/Failure.h"
#include "krvt5/Object.h"

#include <gtest/gtest.h>

namespace {

TEST(CrearObjeto, CreatesEachClassByItsName)
{
    for (const char* name :
         {"krvt5.libKRCM", "krvt5.BasesDD", "krvt5.DeAyudaVT", "krvt5.DeArchivos", "krvt5.DeEquipo",
          "krvt5.DeMonedas", "krvt5.DelRegistro", "krvt5.Utilerias"}) {
        const auto object = krvt5::CrearObjeto(QString::fromLatin1(name));
        ASSERT_TRUE(object) << name;
        EXPECT_EQ(object->className(), QString::fromLatin1(name));
    }
}

TEST(CrearObjeto, UnknownNameIsAFailureNamingIt)
{
    for (const QString& name :
         {QStringLiteral("krvt5.Foo"), QStringLiteral("KRVT5.libKRCM"), QStringLiteral("libKRCM"),
          QStringLiteral("krvt5.libKRCM "), QString()}) {
        try {
            krvt5::CrearObjeto(name);
            ADD_FAILURE() << "created \"" << name.toStdString() << '"';
        } catch (const krvt5::Failure& failure) {
            EXPECT_EQ(failure.message(),
                      QStringLiteral("No se puede crear el objeto \"%1\": la clase no existe.")
                          .arg(name));
        }
    }
}

} // namespace
