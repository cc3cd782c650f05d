# Precompiled Qt headers, one list for the whole build.
#
# The Qt headers are most of what every translation unit parses, so each
# target that can share one precompiled header does: the product library
# compiles it, and the program, the tests and the benchmarks reuse it. The
# stand-in server never links the product (and has no widgets), so it
# compiles the non-widget part of the same list once and its tests reuse that.
#
# A target reuses another's header only when the options that shape the header
# match (sanitizer flags, -fPIC) and every macro defined while it was compiled
# is defined the same way for the user: GCC checks that, and -Winvalid-pch,
# which CMake adds, says so when it refuses the header. The non-widget header
# is therefore compiled by a target of its own, without the stand-in's private
# definitions (DEMOSERVER_CERT_DIR), which its tests do not have.
#
# Compiling through ccache needs the sloppiness pch_defines,time_macros that
# the launcher in the top-level CMakeLists.txt sets.

option(KELVARIS_PCH "Precompile the Qt headers" ON)
# The fuzz build compiles the product with coverage flags of its own, which
# the tests sharing its header would not have; it is a one-off build anyway.
if(KELVARIS_FUZZ)
  set(KELVARIS_PCH OFF)
endif()

set(KELVARIS_PCH_CORE
  <QtCore/QByteArray>
  <QtCore/QDateTime>
  <QtCore/QDir>
  <QtCore/QFile>
  <QtCore/QFileInfo>
  <QtCore/QHash>
  <QtCore/QJsonArray>
  <QtCore/QJsonDocument>
  <QtCore/QJsonObject>
  <QtCore/QJsonValue>
  <QtCore/QList>
  <QtCore/QMap>
  <QtCore/QObject>
  <QtCore/QPointer>
  <QtCore/QRegularExpression>
  <QtCore/QSet>
  <QtCore/QSharedPointer>
  <QtCore/QString>
  <QtCore/QStringList>
  <QtCore/QTimer>
  <QtCore/QUrl>
  <QtCore/QUrlQuery>
  <QtCore/QFuture>
  <QtConcurrent/QtConcurrentRun>
  <QtNetwork/QNetworkAccessManager>
  <QtNetwork/QNetworkReply>
  <QtGui/QImage>
)

set(KELVARIS_PCH_WIDGETS
  <QtGui/QColor>
  <QtGui/QIcon>
  <QtGui/QPainter>
  <QtGui/QPainterPath>
  <QtGui/QPixmap>
  <QtWidgets/QApplication>
  <QtWidgets/QBoxLayout>
  <QtWidgets/QDialog>
  <QtWidgets/QGridLayout>
  <QtWidgets/QLabel>
  <QtWidgets/QMainWindow>
  <QtWidgets/QPushButton>
  <QtWidgets/QStackedWidget>
  <QtWidgets/QWidget>
)

# Compiles the whole list for `target` (the product library).
function(kelvaris_precompile_headers target)
  if(KELVARIS_PCH)
    target_precompile_headers(${target} PRIVATE ${KELVARIS_PCH_CORE} ${KELVARIS_PCH_WIDGETS})
  endif()
endfunction()

# The non-widget part, for the stand-in and its tests: only the Qt modules that
# the list names, so that its definitions are a subset of every user's.
if(KELVARIS_PCH)
  set(source ${CMAKE_BINARY_DIR}/kelvaris_pch_core.cpp)
  if(NOT EXISTS ${source})
    file(WRITE ${source} "// Compiles the precompiled Qt headers without widgets.\n")
  endif()
  add_library(kelvaris_pch_core OBJECT ${source})
  set_target_properties(kelvaris_pch_core PROPERTIES AUTOMOC OFF)
  target_link_libraries(kelvaris_pch_core PRIVATE Qt6::Core Qt6::Gui Qt6::Network Qt6::Concurrent)
  target_precompile_headers(kelvaris_pch_core PRIVATE ${KELVARIS_PCH_CORE})
endif()

# Lets `target` use the header that `owner` compiled.
function(kelvaris_reuse_precompiled_headers target owner)
  if(KELVARIS_PCH)
    target_precompile_headers(${target} REUSE_FROM ${owner})
  endif()
endfunction()
