# -*- coding: utf-8 -*-
# GNU General Public License v3.0+ (see https://www.gnu.org/licenses/gpl-3.0.txt)
"""The action plugin of every ormi.devices module: fills the connection options
a task leaves out from the device's host variables (ormi_address,
ormi_password, ...), so that inventories carry them once per device and
playbooks need not repeat them."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

from ansible.plugins.action import ActionBase

HOST_VARIABLES = (
    ("address", "ormi_address"),
    ("port", "ormi_port"),
    ("user", "ormi_user"),
    ("password", "ormi_password"),
    ("login_method", "ormi_login_method"),
    ("timeout", "ormi_timeout"),
    ("retries", "ormi_retries"),
    ("retry_pause", "ormi_retry_pause"),
    ("program", "ormi_program"),
)


class ActionModule(ActionBase):

    TRANSFERS_FILES = False

    def run(self, tmp=None, task_vars=None):
        task_vars = task_vars or {}
        result = super(ActionModule, self).run(tmp, task_vars)
        del tmp

        args = dict(self._task.args)
        for option, variable in HOST_VARIABLES:
            if args.get(option) is None and variable in task_vars:
                args[option] = self._templar.template(task_vars[variable])

        # The task's own name: its resolved action is this plugin.
        result.update(self._execute_module(module_name=self._task.action, module_args=args, task_vars=task_vars))
        return result
