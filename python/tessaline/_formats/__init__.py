"""Writing fitted models out: the JSON document form, SQL that scores as
`transform` does, and HTML tables. Functions over small protocols: nothing
here imports a model class."""
