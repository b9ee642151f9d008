// TEMPORARY: replaced by the Qt adapter
