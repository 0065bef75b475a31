"""A wheel that carries the native library is for one platform only.

The metadata is in pyproject.toml. With a library in src/ormi_control/lib/
the wheel is tagged py3-none-<platform> (the platform given with
--plat-name, else this machine's); without one it stays py3-none-any.
"""

import glob
import os

from setuptools import Distribution, setup

try:
    from wheel.bdist_wheel import bdist_wheel
except ImportError:  # building an sdist or installing without the wheel package
    bdist_wheel = None

HERE = os.path.dirname(os.path.abspath(__file__))
BUNDLED = [p for pattern in ("*.so", "*.dll", "*/*.dll")
           for p in glob.glob(os.path.join(HERE, "src", "ormi_control", "lib", pattern))]

options = {}
if bdist_wheel is not None and BUNDLED:

    class platform_wheel(bdist_wheel):
        def finalize_options(self):
            super().finalize_options()
            # Not pure: the library inside binds the wheel to one platform.
            self.root_is_pure = False

        def get_tag(self):
            # ctypes only, no extension module: any Python 3 on that platform.
            _, _, platform = super().get_tag()
            return "py3", "none", platform

    class platform_distribution(Distribution):
        # Installs into platlib, the wheel's root, as a binary package does.
        def has_ext_modules(self):
            return True

    options = {"cmdclass": {"bdist_wheel": platform_wheel}, "distclass": platform_distribution}

setup(**options)
