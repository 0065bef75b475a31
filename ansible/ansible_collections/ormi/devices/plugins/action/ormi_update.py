# -*- coding: utf-8 -*-
# GNU General Public License v3.0+ (see https://www.gnu.org/licenses/gpl-3.0.txt)
"""Fills the connection options from the device's ormi_* host variables."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

from ansible_collections.ormi.devices.plugins.plugin_utils.connection_vars import ActionModule  # noqa: F401
